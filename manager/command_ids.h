#pragma once

// The management program's commands, by the identifiers menus, toolbar, accelerators and
// notifications share.
namespace ombrix::mng::command {

constexpr int kAdministration = 32883;
constexpr int kExit = 57665;
constexpr int kInsert = 32775;
constexpr int kEject = 32776;
constexpr int kOpen = 32825;
constexpr int kExtract = 32823;
constexpr int kFind = 32810;
constexpr int kAdd = 32809;
constexpr int kDelete = 32808;
constexpr int kNewFolder = 32844;
constexpr int kCreate = 32804;
constexpr int kEditor = 32831;
constexpr int kChangeDrives = 32816;
constexpr int kNetworkMode = 32881;
constexpr int kProperties = 32830;
constexpr int kToolButtons = 32773;
constexpr int kToolButtonTexts = 32772;
constexpr int kStatusBar = 59393;
constexpr int kImageView = 32771;
constexpr int kSeparatedView = 32882;
constexpr int kLargeSymbols = 59409;
constexpr int kSmallSymbols = 59408;
constexpr int kList = 59410;
constexpr int kDetails = 59411;
constexpr int kSettings = 32846;
constexpr int kRefresh = 32814;
constexpr int kHelp = 57667;
constexpr int kAbout = 57664;
// Context menus only.
constexpr int kRename = 32868;
constexpr int kEdit = 32869;
constexpr int kExplorer = 32857;
constexpr int kCreateFromDrive = 32865;
constexpr int kEjectPhysical = 32854;
constexpr int kEjectAllVirtual = 32859;
constexpr int kEjectAllPhysical = 32860;
constexpr int kUpOneLevel = 32866;

}  // namespace ombrix::mng::command
