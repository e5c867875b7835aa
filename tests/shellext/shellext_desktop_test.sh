#!/usr/bin/env bash
# The desktop's view of the images, with the real freedesktop tools and no services running:
#   types       the MIME package makes xdg-mime and gio name an image by its extension, a renamed
#               image by its header, and leaves other files alone; gio gives the type's icon
#   thumbnails  oxtextse names the disc icon of an image; the thumbnailer entry's command line
#               writes that icon's PNG
#   dolphin     the service menus pass desktop-file-validate
#   nautilus    the extension loads in the system's python3, reads oxtextse's menu lines, builds
#               the image menu from the real oxtextse and runs the chosen command without a shell
#   shellext_desktop_test.sh BUILD_DIR
set -euo pipefail
build=$(cd "$1" && pwd)
repo=$(cd "$(dirname "$0")/../.." && pwd)
# File managers run as the desktop's user, and so does this test: started by root, it goes on as
# an account without privileges.
if [ "$(id -u)" -eq 0 ]; then
  exec setpriv --reuid=nobody --regid=nogroup --clear-groups "$repo/tests/shellext/$(basename "$0")" "$build"
fi
desktop=$repo/shellext/desktop
bin=$build/system
fail() { echo "FAIL: $*" >&2; exit 1; }
skip() { echo "SKIP: $*"; exit 0; }

for tool in update-mime-database xdg-mime gio desktop-file-validate xorriso; do
  command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
done
[ -x /usr/bin/python3 ] || skip "/usr/bin/python3 is not installed"
/usr/bin/python3 -c "import gi; gi.require_version('Nautilus', '4.0'); from gi.repository import Nautilus" \
  >/dev/null 2>&1 || skip "python3-nautilus (API 4.0) is not installed"
for program in oxtextse omxcvt; do [ -x "$bin/$program" ] || fail "$bin/$program is not built"; done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
oxtextse=$bin/oxtextse
# A session of its own: an empty machine root, a home and data folders of the test's, local
# files only (no gvfs daemons), Qt drawing without a display.
export OMBRIX_ROOT=$work/root HOME=$work/home XDG_DATA_HOME=$work/share
export XDG_DATA_DIRS="$work/share:/usr/share" XDG_CONFIG_HOME=$work/config XDG_CACHE_HOME=$work/cache
export GIO_USE_VFS=local QT_QPA_PLATFORM=offscreen
mkdir -p "$OMBRIX_ROOT" "$HOME" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$work/conf" "$work/src"

# The files as the build configures them.
for template in "$desktop"/*.in; do
  out=$work/conf/$(basename "$template" .in)
  sed "s#@OXTEXTSE@#$oxtextse#g" "$template" >"$out"
  if grep -q "@[A-Z_]*@" "$out"; then fail "$(basename "$template") keeps a placeholder"; fi
done
mkdir -p "$XDG_DATA_HOME/mime/packages"
cp "$desktop/ombrix-image.xml" "$XDG_DATA_HOME/mime/packages/"
update-mime-database "$XDG_DATA_HOME/mime" || fail "update-mime-database rejects the package"

cd "$work"
echo "a file on the disc" >src/readme.txt
xorriso -as mkisofs -J -V DESK -o disc.iso src >/dev/null 2>&1 || fail "xorriso"
"$bin/omxcvt" --quiet --storage plain --output disc.om4 disc.iso || fail "omxcvt"
cp disc.om4 disc.bin
printf 'OMXContainer, but at the start of a plain text file\n' >note.txt

echo "== the MIME type"
# mime_of DESKTOP FILE: the type xdg-mime gives as that desktop (GNOME asks gio; the generic
# route asks the mimetype tool).
mime_of() {
  env -u KDE_FULL_SESSION -u KDE_SESSION_VERSION -u GNOME_DESKTOP_SESSION_ID \
    -u MATE_DESKTOP_SESSION_ID -u DESKTOP_SESSION XDG_CURRENT_DESKTOP="$1" \
    xdg-mime query filetype "$2" 2>/dev/null || true
}
desktops=(GNOME)
if command -v mimetype >/dev/null 2>&1; then desktops+=(X-Generic); fi
for de in "${desktops[@]}"; do
  for file in disc.om4 disc.bin; do
    got=$(mime_of "$de" "$file")
    [ "$got" = application/x-ombrix-image ] || fail "$de: $file is '$got'"
  done
  got=$(mime_of "$de" note.txt)
  [ "$got" != application/x-ombrix-image ] || fail "$de: the text file is an image"
done
if [[ " ${desktops[*]} " == *" X-Generic "* ]]; then
  # Another package's *.bin: the header still decides where magic of priority 80 goes before
  # the globs. (GLib takes a name that only one type claims, whatever the content says.)
  mkdir -p "$work/other/mime/packages"
  cat >"$work/other/mime/packages/other-bin.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<mime-info xmlns="http://www.freedesktop.org/standards/shared-mime-info">
  <mime-type type="application/x-test-firmware">
    <comment>firmware</comment>
    <glob pattern="*.bin"/>
  </mime-type>
</mime-info>
EOF
  update-mime-database "$work/other/mime" >/dev/null 2>&1
  got=$(XDG_DATA_DIRS="$work/other:$XDG_DATA_DIRS" mime_of X-Generic disc.bin)
  [ "$got" = application/x-ombrix-image ] || fail "a *.bin glob hides the header: '$got'"
fi
icons=$(gio info -a standard::icon disc.om4 | sed -n 's/^ *standard::icon: //p')
[[ "$icons" == application-x-ombrix-image* ]] || fail "gio gives the icons '$icons'"
[[ ", $icons," == *", media-optical,"* ]] || fail "no generic icon in '$icons'"
description=$(/usr/bin/python3 -c "from gi.repository import Gio
print(Gio.content_type_get_description('application/x-ombrix-image'))")
[ "$description" = "Ombrix disc image" ] || fail "the type is described as '$description'"

echo "== the thumbnail"
for file in disc.om4 disc.bin; do
  type=$("$oxtextse" type "$file") || fail "oxtextse type $file"
  [[ "$type" =~ ^application/x-ombrix-image\ ombrix-disc-([0-9][0-9])$ ]] \
    || fail "oxtextse type $file says '$type'"
done
index=$((10#${BASH_REMATCH[1]}))
[ "$index" -le 33 ] || fail "no icon $index"
status=0
out=$("$oxtextse" type note.txt) || status=$?
{ [ "$status" -eq 1 ] && [[ "$out" != *ombrix* ]]; } || fail "oxtextse type of the text file: $status '$out'"
thumbnailer=$work/conf/ombrix.thumbnailer
grep -qx "TryExec=$oxtextse" "$thumbnailer" || fail "the thumbnailer's TryExec"
grep -qx "MimeType=application/x-ombrix-image;" "$thumbnailer" || fail "the thumbnailer's types"
exec_line=$(sed -n 's/^Exec=//p' "$thumbnailer")
exec_line=${exec_line//%i/$work/disc.om4}
exec_line=${exec_line//%o/$work/thumb.png}
exec_line=${exec_line//%s/128}
read -ra argv <<<"$exec_line"
"${argv[@]}" || fail "the thumbnailer: $exec_line"
[ "$(head -c 8 thumb.png | od -An -tx1 | tr -d ' \n')" = 89504e470d0a1a0a ] \
  || fail "the thumbnail is no PNG"
"$oxtextse" icon "$index" icon.png 128 || fail "oxtextse icon $index"
cmp -s thumb.png icon.png || fail "the thumbnail is not icon $index"

echo "== the Dolphin service menus"
for file in ombrix-image-actions.desktop ombrix-drive-actions.desktop; do
  desktop-file-validate "$work/conf/$file" || fail "desktop-file-validate $file"
done

echo "== the Nautilus extension"
mkdir -p "$work/py" "$work/drives/E" "$work/odd dir"
cp "$work/conf/ombrix_nautilus.py" "$work/py/"
cp disc.om4 "$work/odd dir/it's \$(x).om4"
# A stand-in for oxtextse that answers with a fixed menu and notes the commands it is given.
cat >"$work/fake-oxtextse" <<'EOF'
#!/bin/sh
case "$1" in
  menu) printf '0\t1\t\tManage\n0\t0\ts\tInsert the image into\n1\t100\tc\tE:\n1\t101\t\tF:\n' ;;
  drive-menu) printf '0\t0\ts\tInsert an image\n1\t5001\t\tOne\n1\t0\t-\t\n1\t5001\t\tOne again\n' ;;
  *) for arg in "$@"; do printf '%s\n' "$arg"; done >"$FAKE_LOG.part"; mv "$FAKE_LOG.part" "$FAKE_LOG" ;;
esac
EOF
chmod +x "$work/fake-oxtextse"
OXTEXTSE=$oxtextse FAKE_LOG=$work/fake.log PYTHONPATH=$work/py PYTHONDONTWRITEBYTECODE=1 WORK=$work \
  /usr/bin/python3 - <<'EOF' || fail "the Nautilus extension"
import os
import sys
import time

import ombrix_nautilus as ext
from gi.repository import Gio

work = os.environ['WORK']
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def shape(entries):
    return [(e['text'], e['command'], e['submenu'], e['checked'], e['disabled'], e['separator'],
             shape(e['children'])) for e in entries]


# --- oxtextse's lines read as the menu they describe ---
menu = ext.menu_from_lines('0\t1\t\tManage the images...\n0\t0\ts\tInsert the image into\n'
                           '1\t100\tc\tE:\n1\t101\t\tF:\n')
check(shape(menu) == [('Manage the images...', 1, False, False, False, False, []),
                      ('Insert the image into', 0, True, False, False, False,
                       [('E:', 100, False, True, False, False, []),
                        ('F:', 101, False, False, False, False, [])])],
      'the typical image menu: %r' % shape(menu))
menu = ext.menu_from_lines('0\t0\ts\tA\n1\t0\ts\tB\n2\t7\t\tdeep\n1\t8\t\tback in A\n'
                           '0\t0\t-\t\n0\t0\ts\tC\n1\t9\t\tin C\n0\t0\td\t(No image found)\n')
check(shape(menu) == [('A', 0, True, False, False, False,
                       [('B', 0, True, False, False, False, [('deep', 7, False, False, False, False, [])]),
                        ('back in A', 8, False, False, False, False, [])]),
                      ('', 0, False, False, False, True, []),
                      ('C', 0, True, False, False, False, [('in C', 9, False, False, False, False, [])]),
                      ('(No image found)', 0, False, False, True, False, [])],
      'nested sub-menus, a separator and a disabled item: %r' % shape(menu))
menu = ext.menu_from_lines('0\t1\t\tfirst\n3\t2\t\ttoo deep\nnonsense\nx\t1\t\tbad depth\n'
                           '0\t3\t\ttab\tin text\r\n')
check(shape(menu) == [('first', 1, False, False, False, False, []),
                      ('too deep', 2, False, False, False, False, []),
                      ('tab\tin text', 3, False, False, False, False, [])],
      'lines that do not read, and a depth below no sub-menu: %r' % shape(menu))
check(ext.menu_from_lines('') == [], 'no lines')


class Stub:
    def __init__(self, path, directory=False):
        self.path, self.directory = path, directory

    def get_location(self):
        return Gio.File.new_for_path(self.path)

    def is_directory(self):
        return self.directory

    def get_uri(self):
        return self.get_location().get_uri()


def tree(items):
    out = []
    for item in items:
        submenu = item.get_property('menu')
        out.append((item.get_property('name'), item.get_property('label'),
                    item.get_property('sensitive'),
                    tree(submenu.get_items()) if submenu is not None else None))
    return out


def labels(nodes):
    return [(label, sensitive, labels(children) if children is not None else None)
            for _name, label, sensitive, children in nodes]


provider = ext.OmbrixMenuProvider()
disc = os.path.join(work, 'disc.om4')

# --- the real program: the extension shows the drives oxtextse names for this session ---
items = tree(provider.get_file_items([Stub(disc)]))
inserts = [children for _n, label, _s, children in items if label == 'Insert the image into']
import subprocess
answer = subprocess.run([os.environ['OXTEXTSE'], 'menu', disc], capture_output=True, text=True,
                        timeout=10).stdout
drives = [(line.split('\t')[3], 'd' not in line.split('\t')[2], None)
          for line in answer.splitlines() if line.startswith('1\t')]
check(inserts and drives and labels(inserts[0]) == drives,
      'the image menu: %r against %r' % (labels(items), drives))
check(labels(items)[-1] == ('Image properties…', True, None), 'no properties item: %r' % items)
check(provider.get_file_items([Stub(os.path.join(work, 'note.txt'))]) == [],
      'a menu for the text file')
check(provider.get_file_items([Stub(work, directory=True)]) == [], 'a menu for a plain folder')
check(provider.get_background_items(Stub(work, directory=True)) == [],
      'a background menu in a plain folder')
check(provider.get_file_items([Stub(disc), Stub(disc)]) == [], 'a menu for two files')
check(provider.get_file_items([Stub('/no/such/oxtextse/file.om4')]) == [],
      'a menu for a missing file')

# --- the menu as Nautilus gets it, and the commands it runs ---
ext.OXTEXTSE = os.path.join(work, 'fake-oxtextse')
log = os.environ['FAKE_LOG']


def activate(items, label, *args):
    if os.path.exists(log):
        os.remove(log)
    found = [item for item in items if item.get_property('label') == label]
    if not found:
        failures.append('no item %r' % label)
        return
    found[0].activate()
    for _ in range(100):
        if os.path.exists(log):
            break
        time.sleep(0.05)
    ran = open(log).read().split('\n')[:-1] if os.path.exists(log) else None
    check(ran == list(args), '%r ran %r' % (label, ran))


odd = os.path.join(work, 'odd dir', "it's $(x).om4")
items = provider.get_file_items([Stub(odd)])
nodes = tree(items)
check(labels(nodes) == [('Manage', True, None),
                        ('Insert the image into', True, [('✓ E:', True, None), ('F:', True, None)]),
                        ('Image properties…', True, None)], 'the image menu: %r' % labels(nodes))
names = [nodes[0][0], nodes[1][0]] + [n[0] for n in nodes[1][3]] + [nodes[2][0]]
check(all(n.startswith('Ombrix::') for n in names) and len(set(names)) == len(names),
      'item names %r' % names)
activate(items, 'Manage', 'invoke', odd, '1')
activate(items[1].get_property('menu').get_items(), 'F:', 'invoke', odd, '101')
activate(items, 'Image properties…', 'properties', odd)

drive = os.path.join(work, 'drives', 'E')
for items in (provider.get_file_items([Stub(drive, directory=True)]),
              provider.get_background_items(Stub(drive, directory=True))):
    nodes = tree(items)
    check(labels(nodes) == [('Insert an image', True, [('One', True, None), ('One again', True, None)])],
          'the drive menu: %r' % labels(nodes))
    names = [n[0] for n in nodes[0][3]]
    check(len(set(names)) == 2, 'two items of one command share a name: %r' % names)
    if items:
        activate(items[0].get_property('menu').get_items(), 'One again', 'drive-invoke', drive, '5001')

for failure in failures:
    print('FAIL:', failure, file=sys.stderr)
sys.exit(1 if failures else 0)
EOF
echo PASS
