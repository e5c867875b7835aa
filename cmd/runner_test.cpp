// The command logic against a scripted client: which library calls each command line makes and
// which boxes it shows in each output mode.
#include "cmd/runner.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <map>
#include <optional>

#include "cmd/prompt.h"
#include "common/md5_digest.h"
#include "platform/ascii.h"
#include "platform/ui/user_interface.h"
#include "support/temp_root.h"

using namespace ombrix::cmd;
namespace ui = ombrix::ui;
namespace ascii = ombrix::ascii;
using Strings = std::vector<std::string>;

namespace {

// Boxes as "icon|text" lines; text prompts answered from a list.
class BoxLog : public ui::UserInterface {
  public:
    ui::Answer messageBox(const std::string& caption, const std::string& text, ui::Icon icon,
                          ui::Buttons, const ui::BoxOptions&) override {
        EXPECT_EQ(caption, "Ombrix TS");
        boxes.push_back(std::string(ui::iconName(icon)) + "|" + text);
        return ui::Answer::Ok;
    }
    std::optional<std::string> askPassword(const ui::PasswordPrompt&) override {
        return std::nullopt;
    }
    std::optional<std::string> askText(const ui::TextPrompt& prompt) override {
        prompts.push_back(prompt);
        if (answers.empty()) return std::nullopt;
        auto answer = answers.front();
        answers.pop_front();
        return answer;
    }
    Strings boxes;
    std::vector<ui::TextPrompt> prompts;
    std::deque<std::optional<std::string>> answers;
};

void copy(char* target, size_t size, const std::string& text) {
    ascii::copyToBuffer(text, target, static_cast<long>(size));
}

// The client library as a script: a catalogue, headers, the session's drives; every call that
// changes something or asks the user is logged.
class FakeClient : public Client {
  public:
    bool player = true;
    std::string letters = "EFG";
    std::map<std::string, std::string> settings;
    std::map<std::string, std::string> session;
    std::map<int, OmxImageInfo> catalogue;
    std::map<std::string, std::string> marks;  // image path -> container mark; absent: unreadable
    std::map<std::string, std::string> passwords;             // image path -> its password
    std::map<std::string, std::optional<std::string>> typed;  // password prompt answers
    std::map<char, std::string> drives;
    int insertResult = 0;
    int ejectResult = 0;
    std::deque<long> executeResults;  // 42 (started) when empty
    int nextShared = 5001;
    Strings calls;

    int add(int index, const std::string& path, const std::string& description = "",
            const std::string& program = "", const std::string& parameters = "", char drive = '0') {
        OmxImageInfo info{};
        copy(info.path, sizeof info.path, path);
        copy(info.description, sizeof info.description, description);
        copy(info.program, sizeof info.program, program);
        copy(info.parameters, sizeof info.parameters, parameters);
        info.driveLetter = drive;
        catalogue[index] = info;
        if (index >= nextShared) nextShared = index + 1;
        return index;
    }

    bool playerRunning() override { return player; }
    std::string driveLetters() override { return letters; }
    std::string setting(const std::string& key) override { return settings[key]; }
    std::string sessionValue(const std::string& key) override { return session[key]; }
    int indexHi() override {
        int hi = 0;
        for (auto& [index, info] : catalogue)
            if (index < 5000) hi = index;
        return hi;
    }
    int indexHiNet() override { return std::max(5000, nextShared - 1); }
    bool imageInfo(int index, OmxImageInfo& info) override {
        auto it = catalogue.find(index);
        if (it == catalogue.end()) return false;
        info = it->second;
        return true;
    }
    int indexFromImageFile(const std::string& path, int range) override {
        for (auto& [index, info] : catalogue) {
            bool inRange =
                range == 0 || (range == 1 && index < 5000) || (range == 2 && index > 5000);
            if (inRange && ascii::equalsIgnoreCase(info.path, path)) return index;
        }
        return -1;
    }
    int addImage(OmxImageInfo& info, int range) override {
        calls.push_back("add " + std::to_string(range) + " " + info.path);
        if (addFails) return -1;
        if (indexFromImageFile(info.path, 2) > 0) return 0;
        return add(nextShared, info.path);
    }
    bool addFails = false;
    int header(const std::string& path, OmxImageHeader& header) override {
        auto it = marks.find(path);
        if (it == marks.end()) return 2;
        std::memset(&header, 0, sizeof header);
        copy(header.containerMark, sizeof header.containerMark, it->second);
        if (auto p = passwords.find(path); p != passwords.end()) {
            copy(header.passwordDigest, sizeof header.passwordDigest, *ombrix::md5Hex(p->second));
        }
        return 0;
    }
    std::string imageFolder(bool shared) override {
        calls.push_back(shared ? "folder shared" : "folder local");
        return "/srv/images/";
    }
    bool askPassword(const std::string& path, std::string& password) override {
        calls.push_back("password " + path);
        auto it = typed.find(path);
        if (it == typed.end()) return true;  // no password on the image
        if (!it->second) return false;
        password = *it->second;
        return true;
    }
    int insert(char drive, const std::string& path, const std::string& password) override {
        calls.push_back(std::string("insert ") + drive + " " + path + " [" + password + "]");
        if (insertResult == 0) drives[drive] = path;
        return insertResult;
    }
    int insertIndex(char drive, int index) override {
        calls.push_back(std::string("insertIndex ") + drive + " " + std::to_string(index));
        if (insertResult == 0) drives[drive] = catalogue[index].path;
        return insertResult;
    }
    int eject(char drive) override {
        calls.push_back(std::string("eject ") + drive);
        if (ejectResult == 0) drives.erase(drive);
        return ejectResult;
    }
    char mountDrive(const std::string& path) override {
        for (auto& [letter, held] : drives)
            if (ascii::equalsIgnoreCase(held, path)) return letter;
        return 0;
    }
    std::string mountedFile(char drive) override {
        auto it = drives.find(drive);
        return it == drives.end() ? "" : it->second;
    }
    int driveIndex(char drive) override {
        auto it = drives.find(drive);
        if (it == drives.end()) return -1;
        return std::max(0, indexFromImageFile(it->second, 0));
    }
    void reportInsertError(int code) override { calls.push_back("report " + std::to_string(code)); }
    long execute(const std::string& commandLine, const std::string& directory) override {
        calls.push_back("execute " + commandLine + " | " + directory);
        if (executeResults.empty()) return 42;
        long result = executeResults.front();
        executeResults.pop_front();
        return result;
    }
    std::string replaceDriveVar(const std::string& text, char drive) override {
        std::string out = text;
        const std::string variable = "%OMXDRIVE%";
        for (size_t at = 0; (at = ascii::toUpper(out).find(variable, at)) != std::string::npos;)
            out.replace(at, variable.size(), std::string(1, drive));
        return out;
    }
    void pause(int milliseconds) override {
        calls.push_back("pause " + std::to_string(milliseconds));
    }
};

class RunnerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        auto log = std::make_unique<BoxLog>();
        boxes = log.get();
        ui::setUserInterface(std::move(log));
        ombrix::test::writeFile(root / "a.om4", "image");
        ombrix::test::writeFile(root / "b.om4", "image");
        a = (root / "a.om4").string();
        b = (root / "b.om4").string();
    }
    void TearDown() override { ui::setUserInterface(nullptr); }

    // Starts a runner on the script and runs the line; the result of the line.
    bool run(const std::string& line) {
        if (!runner) {
            runner = std::make_unique<Runner>(client, messages);
            EXPECT_TRUE(runner->start());
        }
        return runner->runLine(line);
    }

    ombrix::test::TempRoot root;
    FakeClient client;
    Messages messages;
    std::unique_ptr<Runner> runner;
    BoxLog* boxes = nullptr;
    std::string a, b;
};

TEST_F(RunnerTest, CataloguedImageFileGoesThroughTheCatalogueInsertAndBoxesFollowTheMode) {
    client.add(5001, a, "Disc A");
    EXPECT_TRUE(run("/I " + a + " F:"));
    EXPECT_EQ(client.calls, (Strings{"insertIndex F 5001"}));
    EXPECT_EQ(boxes->boxes, Strings{});  // normal mode: errors only

    client.calls.clear();
    EXPECT_TRUE(run("/E F: /V"));  // modes apply to the whole line, wherever they stand
    EXPECT_EQ(client.calls, (Strings{"eject F"}));
    EXPECT_EQ(boxes->boxes, (Strings{
                                "information|Execute '/E F: /V' command.\n",
                                "information|Searching for the virtual drive 'F:' to eject the "
                                "ombrix ''.\n",
                                "information|Ejecting the ombrix from the 'F:' drive.\n",
                                "information|The ombrix was ejected from the drive.\n",
                                "information|All arguments processed.\n",
                            }));
    boxes->boxes.clear();
    EXPECT_TRUE(run(a));  // plain image: an insert into the first virtual drive; still verbose
    EXPECT_EQ(boxes->boxes, (Strings{"information|Execute '" + a + "' command.\n",
                                     "information|Load the ombrix '" + a + "' in the 'E:' drive.\n",
                                     "information|The ombrix has been inserted.\n",
                                     "information|All arguments processed.\n"}));
}

TEST_F(RunnerTest, InsertFailureIsReportedInNormalModeAndSilentWithQ) {
    client.add(5001, a);
    client.insertResult = 600;
    EXPECT_FALSE(run("/I " + a + " E:"));
    EXPECT_EQ(client.calls, (Strings{"insertIndex E 5001", "report 600"}));
    EXPECT_EQ(boxes->boxes, (Strings{"error|Ombrix ('" + a + "') not inserted.\n"}));
    EXPECT_TRUE(runner->anyFailed());

    client.calls.clear();
    boxes->boxes.clear();
    EXPECT_FALSE(run("/q /I " + a + " E:"));
    EXPECT_EQ(client.calls, (Strings{"insertIndex E 5001"}));
    EXPECT_EQ(boxes->boxes, Strings{});
}

TEST_F(RunnerTest, NewImageIsCheckedCataloguedAndInsertedWithThePromptedPassword) {
    client.marks[a] = "OMXContainer";
    client.typed[a] = "secret";
    client.drives['E'] = b;  // the target drive holds another image
    EXPECT_TRUE(run("/V /I " + a + " E:"));
    EXPECT_EQ(client.calls, (Strings{"add 0 " + a, "pause 1000", "password " + a, "eject E",
                                     "insert E " + a + " [secret]"}));
    EXPECT_EQ(client.indexFromImageFile(a, 2), 5001);
    EXPECT_EQ(boxes->boxes,
              (Strings{"information|Execute '/V /I " + a + " E:' command.\n",
                       "information|The virtual drive is already in use. Ejecting the ombrix...\n",
                       "information|The ombrix has been inserted.\n",
                       "information|All arguments processed.\n"}));

    // Into another drive: it leaves E: first.
    client.calls.clear();
    boxes->boxes.clear();
    EXPECT_TRUE(run("/I " + a + " G: /P given"));
    EXPECT_EQ(client.calls, (Strings{"eject E", "insert G " + a + " [given]"}));
    EXPECT_EQ(boxes->boxes[1], "information|Eject a ombrix.\n");
}

TEST_F(RunnerTest, HeaderChecksOfANewImage) {
    // Unreadable header.
    EXPECT_FALSE(run("/I " + a + " E:"));
    EXPECT_EQ(boxes->boxes, (Strings{"error|Ombrix ('" + a + "') not found. \n"}));
    // Not a container.
    boxes->boxes.clear();
    client.marks[a] = "garbage";
    EXPECT_FALSE(run("/I " + a + " E:"));
    EXPECT_EQ(boxes->boxes, (Strings{"error|" + a + " is not a valid Ombrix v4 container.\n"}));
    // Refused by the catalogue.
    boxes->boxes.clear();
    client.marks[a] = "OMXContainer";
    client.addFails = true;
    EXPECT_FALSE(run("/I " + a + " E:"));
    EXPECT_EQ(client.calls, (Strings{"add 0 " + a, "add 1 " + a, "pause 1000"}));
    EXPECT_EQ(boxes->boxes, (Strings{"error|Cannot find the specified ombrix.\n"}));
    // An older image accepted by preference goes in by its path, without catalogue entry or
    // password prompt.
    client.calls.clear();
    boxes->boxes.clear();
    client.settings["OMX3xCompat"] = "1";
    client.marks[a] = "garbage";
    runner.reset();
    EXPECT_TRUE(run("/I " + a + " E:"));
    EXPECT_EQ(client.calls,
              (Strings{"add 0 " + a, "add 1 " + a, "pause 1000", "insert E " + a + " []"}));
    EXPECT_EQ(boxes->boxes, Strings{});
}

TEST_F(RunnerTest, ARelativeImagePathReachesTheLibraryAbsolute) {
    auto previous = std::filesystem::current_path();
    std::filesystem::create_directories(root / "sub");
    std::filesystem::current_path(root / "sub");
    client.marks[a] = "OMXContainer";
    bool ok = run("/I ../a.om4 E:");
    std::filesystem::current_path(previous);
    EXPECT_TRUE(ok);
    EXPECT_EQ(client.calls,
              (Strings{"add 0 " + a, "pause 1000", "password " + a, "insert E " + a + " []"}));
}

TEST_F(RunnerTest, RefusedPasswordPromptInsertsNothing) {
    client.add(5001, a);
    client.typed[a] = std::nullopt;
    // A program makes it the file route, where the program asks for the password itself.
    EXPECT_FALSE(run("/I " + a + " E: /X prog"));
    EXPECT_EQ(client.calls, (Strings{"password " + a}));
    EXPECT_EQ(boxes->boxes, (Strings{"error|The password for CD " + a +
                                     " is invalid; the CD was not inserted.\n"}));
    EXPECT_TRUE(client.drives.empty());
}

TEST_F(RunnerTest, PasswordOnTheCommandLineMustBeTheImagesOwn) {
    client.add(5001, a);
    client.marks[a] = "OMXContainer";
    client.passwords[a] = "sesame";
    EXPECT_FALSE(run("/I " + a + " E: /P wrong"));
    EXPECT_EQ(client.calls, Strings{});
    EXPECT_EQ(boxes->boxes, (Strings{"error|The password for CD " + a +
                                     " is invalid; the CD was not inserted.\n"}));
    EXPECT_TRUE(run("/I " + a + " E: /P sesame"));
    EXPECT_EQ(client.calls, (Strings{"insert E " + a + " [sesame]"}));
    // An image without password takes any.
    client.calls.clear();
    client.marks[b] = "OMXContainer";
    client.add(5002, b);
    EXPECT_TRUE(run("/I " + b + " F: /P anything"));
    EXPECT_EQ(client.calls, (Strings{"insert F " + b + " [anything]"}));
}

TEST_F(RunnerTest, EjectByDriveByImagePathAndByDescription) {
    client.add(5001, a, "Disc A");
    client.drives['F'] = a;
    EXPECT_TRUE(run("/E " + a));
    EXPECT_EQ(client.calls, (Strings{"eject F"}));
    // The eject is confirmed in normal mode too.
    EXPECT_EQ(boxes->boxes, (Strings{"information|The ombrix was ejected from the drive.\n"}));

    client.calls.clear();
    client.drives['G'] = a;
    EXPECT_TRUE(run("/E \"disc a\""));
    EXPECT_EQ(client.calls, (Strings{"eject G"}));

    // Nothing holds it, or the drive cannot be emptied.
    boxes->boxes.clear();
    EXPECT_FALSE(run("/E " + a));
    client.drives['E'] = b;
    client.ejectResult = 600;
    EXPECT_FALSE(run("/E e"));
    EXPECT_EQ(boxes->boxes,
              (Strings{"error|Cannot eject the ombrix.\n", "error|Cannot eject the ombrix.\n"}));

    // /E without a value waits for the drive that follows.
    client.calls.clear();
    client.ejectResult = 0;
    EXPECT_TRUE(run("/E /W /tmp E:"));
    EXPECT_EQ(client.calls, (Strings{"eject E"}));
}

TEST_F(RunnerTest, DescriptionMatchingTwoEntriesPicksTheOneWhoseFileExists) {
    std::string gone = (root / "gone.om4").string();
    client.add(3, gone, "Office");
    client.add(5001, b, "office");
    client.add(5002, a, "OFFICE");
    EXPECT_TRUE(run("Office E:"));
    EXPECT_EQ(client.calls, (Strings{"insertIndex E 5001"}));
    // Without an existing file the first equal entry is taken; an entry without description is
    // known by its file's name.
    client.calls.clear();
    client.add(4, gone, "Archive");
    client.add(5003, (root / "gone2.om4").string(), "archive");
    ombrix::test::writeFile(root / "cdisc.om4", "image");
    client.add(5004, (root / "cdisc.om4").string());
    EXPECT_TRUE(run("/I archive F: /I cdisc G:"));
    EXPECT_EQ(client.calls, (Strings{"insertIndex F 4", "insertIndex G 5004"}));
    EXPECT_FALSE(run("/I nothing E: /I " + (root / "missing.om4").string() + " F:"));
    EXPECT_EQ(boxes->boxes,
              (Strings{"error|'nothing' is not a ombrix description.\n",
                       "error|Ombrix ('" + (root / "missing.om4").string() + "') not found. \n"}));
    EXPECT_EQ(client.calls.size(), 2u);  // neither broken insert ran
}

TEST_F(RunnerTest, DriveChoiceForACatalogueInsert) {
    client.add(5001, a, "", "", "", 'G');
    client.add(5002, b, "", "", "", 'Z');
    EXPECT_TRUE(run("/I " + a + " /I " + b));  // preferred G:, else the first drive
    EXPECT_EQ(client.calls, (Strings{"insertIndex G 5001", "insertIndex E 5002"}));
    client.calls.clear();
    EXPECT_FALSE(run("/I " + a + " q:"));
    EXPECT_EQ(client.calls, Strings{});
    EXPECT_EQ(boxes->boxes, (Strings{"error|'Q:' is not a valid virtual drive.\n"}));
}

TEST_F(RunnerTest, ProgramAloneTouchesNoDriveAndRetriesAsOftenAsT) {
    EXPECT_TRUE(run("/X \"\"/opt/my app/run\" -v\" /W /tmp"));
    EXPECT_EQ(client.calls, (Strings{"execute \"/opt/my app/run\" -v | /tmp"}));
    EXPECT_TRUE(client.drives.empty());

    client.calls.clear();
    client.executeResults = {2, 2, 42};
    EXPECT_TRUE(run("/T 3 /X prog"));
    EXPECT_EQ(client.calls, (Strings{"execute prog | ", "pause 1000", "execute prog | ",
                                     "pause 1000", "execute prog | "}));
    EXPECT_EQ(runner->attempts(), 3);
    // Each failing shell result has its message.
    struct Case {
        long result;
        const char* text;
    };
    for (Case c : {Case{0, "Not enough memory"}, Case{8, "Not enough memory"},
                   Case{2, "Cannot find start program"}, Case{3, "Cannot find start program"},
                   Case{27, "Cannot find start program"}, Case{5, "You do not have 'execute'"},
                   Case{31, "There is no start program"}, Case{26, "Cannot execute the start"}}) {
        boxes->boxes.clear();
        client.executeResults = {c.result, c.result, c.result};
        EXPECT_FALSE(run("/X prog"));
        ASSERT_EQ(boxes->boxes.size(), 1u);
        EXPECT_NE(boxes->boxes[0].find(c.text), std::string::npos) << c.result;
    }
}

TEST_F(RunnerTest, ThePendingCommandIsNotRunAfterAFailedOne) {
    // The eject of a letter that is no drive fails: the program left pending does not run.
    EXPECT_FALSE(run("/E Q: /X prog"));
    EXPECT_EQ(client.calls, Strings{});
    // After a command that went well it does.
    client.add(5001, a);
    EXPECT_TRUE(run("/I " + a + " E: /X prog"));
    EXPECT_EQ(client.calls.back(), "execute prog | ");
}

TEST_F(RunnerTest, EntryProgramRunsAfterAFileInsertWithTheDriveFilledIn) {
    client.add(5001, a, "", "%OMXDrive%/setup %omxdrive%", "%OMXDRIVE%/");
    EXPECT_TRUE(run("/I " + a + " F: /P pw"));
    EXPECT_EQ(client.calls, (Strings{"insert F " + a + " [pw]", "execute F/setup F | F/"}));
    // /X and /W replace the entry's program and folder; the entry's program not found fails.
    client.calls.clear();
    client.executeResults = {2};
    EXPECT_FALSE(run("/I " + a + " E: /X run%OMXDrive% /W /wd /P pw"));
    EXPECT_EQ(client.calls, (Strings{"eject F", "insert E " + a + " [pw]", "execute runE | /wd"}));
}

TEST_F(RunnerTest, SeveralCommandsOnOneLineRunInOrder) {
    client.add(5001, a);
    client.add(5002, b);
    EXPECT_TRUE(run("/I " + a + " E: /I " + b + " F: /E E: /X p1 /X p2"));
    EXPECT_EQ(client.calls, (Strings{"insertIndex E 5001", "insertIndex F 5002", "eject E",
                                     "execute p1 | ", "execute p2 | "}));
}

TEST_F(RunnerTest, CatalogueCodesUnknownOptionsAndLeftoverValues) {
    client.add(5001, a);
    EXPECT_TRUE(run("E: /D D52F6A /D nonsense /D d52f60"));
    // The drive ran as an eject before the code; the codes read a folder or nothing.
    EXPECT_EQ(client.calls, (Strings{"eject E", "folder shared"}));
    boxes->boxes.clear();
    EXPECT_FALSE(run("/Z " + a));  // an unknown option takes no value: the image is inserted
    EXPECT_EQ(client.calls.back(), "insertIndex E 5001");
    EXPECT_FALSE(run("/P secret"));
    EXPECT_EQ(boxes->boxes, (Strings{"error|'/Z' argument not recognized.\n",
                                     "error|'/P secret' argument not recognized.\n"}));
}

TEST_F(RunnerTest, CommandFilesRunTheirLinesAndIgnoreTheRestOfTheLine) {
    client.add(5001, a);
    ombrix::test::writeFile(root / "job.CMD", "\r\n  /I " + a + " F:  \r\n\n/X prog\n");
    EXPECT_TRUE(run((root / "job.CMD").string() + " /E F:"));
    EXPECT_EQ(client.calls, (Strings{"insertIndex F 5001", "execute prog | "}));

    boxes->boxes.clear();
    std::string missing = (root / "missing.cmd").string();
    EXPECT_FALSE(run(missing));
    EXPECT_EQ(boxes->boxes, (Strings{"error|File ('" + missing + "') not found.\n"}));
    EXPECT_FALSE(run((root / "a.om4").string() + "/x.cmd"));  // not a folder on the way
    EXPECT_EQ(boxes->boxes.back(), "error|File ('" + a + "/x.cmd') not found.\n");
    // A file that runs itself ends after a few levels instead of never.
    ombrix::test::writeFile(root / "loop.cmd", (root / "loop.cmd").string() + "\n");
    boxes->boxes.clear();
    EXPECT_FALSE(run((root / "loop.cmd").string()));
    EXPECT_EQ(boxes->boxes, (Strings{"error|Cannot open the parameter file.\n"}));
}

TEST_F(RunnerTest, MissingSessionHelperEndsAtStartEvenWhenQuiet) {
    client.player = false;
    Runner r(client, messages);
    messages.setMode(Mode::Quiet);
    EXPECT_FALSE(r.start());
    EXPECT_EQ(boxes->boxes, (Strings{"error|The OMX Player is not running.\n"}));
}

TEST_F(RunnerTest, PromptReopensWithAFailedLineAndEndsOnCancelOrEmptyLine) {
    client.add(5001, a);
    boxes->answers = {"/E Q:", "  /I " + a + " E:  ", "   ", "never run"};
    Runner r(client, messages);
    ASSERT_TRUE(r.start());
    runPrompt(r);
    ASSERT_EQ(boxes->prompts.size(), 3u);
    EXPECT_EQ(boxes->prompts[0].title, "Ombrix TS v5 - Command Line Program");
    EXPECT_EQ(boxes->prompts[0].label, "&Enter argument(s)");
    EXPECT_EQ(boxes->prompts[0].acceptButton, "&Run");
    EXPECT_EQ(boxes->prompts[0].rejectButton, "&Cancel");
    EXPECT_EQ(boxes->prompts[0].text, "");
    EXPECT_EQ(boxes->prompts[1].text, "/E Q:");  // failed: offered again
    EXPECT_EQ(boxes->prompts[2].text, "");       // succeeded
    EXPECT_EQ(client.calls, (Strings{"insertIndex E 5001"}));
    boxes->prompts.clear();
    boxes->answers = {std::nullopt, "/E E:"};
    runPrompt(r);
    EXPECT_EQ(boxes->prompts.size(), 1u);
}

TEST(Messages, TranslatedTextsAndTheLineBreak) {
    auto log = std::make_unique<BoxLog>();
    BoxLog* boxes = log.get();
    ui::setUserInterface(std::move(log));
    Messages messages([](int id) -> std::optional<std::string> {
        if (id == kLoading) return "Lade '%s' in '%s' %d";
        return std::nullopt;
    });
    messages.setMode(Mode::Verbose);
    messages.show(kLoading, {"disc", "E:"});
    messages.show(kNotVirtualDrive, {"Q:"});
    messages.setMode(Mode::Quiet);
    messages.show(kNotVirtualDrive, {"Q:"});
    messages.show(kWrongLanguageVersion);
    EXPECT_EQ(boxes->boxes,
              (Strings{"information|Lade 'disc' in 'E:' %d\n",
                       "error|'Q:' is not a valid virtual drive.\n",
                       "information|The language file has the wrong version - using build in "
                       "language. Please download the current language files.\n"}));
    ui::setUserInterface(nullptr);
}

}  // namespace
