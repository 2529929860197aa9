// The byte format of an install package: the one definition shared by the
// setup program (which reads it) and the package builder (which writes it).
// Everything here is plain data and arithmetic; no Windows API.
#pragma once

#include <stddef.h>
#include <stdint.h>

typedef uint8_t u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef int32_t i32;

// ---------------------------------------------------------------------------
// Container

// "wwgT)H": the six bytes in front of the first record header.
static const u8 PackageMarker[6] = {0x77, 0x77, 0x67, 0x54, 0x29, 0x48};
static const u32 PackageMarkerLength = 6;
// The setup program compares the marker in this masked form: a plain copy of
// the six bytes in its own image would be found before the package behind it.
static const u8 PackageMarkerMask = 0x5A;
static const u8 PackageMarkerMasked[6] = {0x77 ^ 0x5A, 0x77 ^ 0x5A, 0x67 ^ 0x5A,
                                          0x54 ^ 0x5A, 0x29 ^ 0x5A, 0x48 ^ 0x5A};
// The marker is searched from this file offset (the scan starts 8 bytes
// earlier so that the buffer keeps the historical shape) ...
static const u32 MarkerScanStart = 1012;
static const u32 MarkerEarliest = 1020;
// ... and must end within the first 200,000 bytes of the file.
static const u32 MarkerWindow = 198988;
static const u32 MarkerLatestEnd = MarkerScanStart + MarkerWindow;  // 200,000

static const u32 RecordHeaderSize = 8;
static const u16 RecordCompressed = 0x1;    // payload = u32 decoded length + zlib stream
static const u16 RecordCompletedLog = 0x2;  // end header of a completed uninstaller

enum RecordType : u16 {
  RecordLayout = 0x1435,
  RecordImageTable = 0x1436,
  RecordBackdropImage = 0x1437,
  RecordBackdropTitle = 0x1438,
  RecordFileList = 0x143A,
  RecordForcedPage = 0x143B,
  RecordTitleStyle = 0x143D,
  RecordGroup = 0x143E,
  RecordUninstaller = 0x143F,
  RecordResolutionList = 0x1444,
  RecordRegistryEntries = 0x1445,
  RecordEndOfTables = 0x7F7F,
  // Records of the uninstall log.
  LogFiles = 0x1235,
  LogShortcuts = 0x1236,
};

static const u32 MaxGroups = 16;
// The forced-page record: u16 page kind, u16 group index; always stored.
static const u32 ForcedPagePayloadSize = 4;
// Each data volume starts with the u32 length of the data it holds.
static const u32 VolumeLengthSize = 4;

// ---------------------------------------------------------------------------
// Layout record (0x1435) header

enum LayoutOffset : u32 {
  LayoutFlags = 0,
  LayoutColourA = 4,
  LayoutColourB = 8,
  LayoutFrameWidth = 12,
  LayoutFrameHeight = 16,
  LayoutButtonBarFlags = 20,
  LayoutDialogFont = 24,  // LOGFONTA, 60 bytes
  LayoutButtonBarColour = 84,
  LayoutButtonBarHeight = 88,
  LayoutButtonBarCount = 92,
  LayoutButtonBarControls = 96,
  LayoutPageTable = 126,  // 11 x u32; slots 0 to 9 are used
  LayoutHeaderSize = 170,
};
static const u32 LogFontSize = 60;
static const u32 PageTableSlots = 11;
static const u32 PageTableUsedSlots = 10;

static const u32 LayoutFlagFullScreen = 0x2;
static const u32 LayoutFlagGradient = 0x4;
static const u32 LayoutFlagMaximised = 0x8;
static const u32 LayoutFlagFramedBackdrop = 0x10;
static const u32 LayoutFlagStretch = 0x20;
static const u32 LayoutFlagTile = 0x40;
static const u32 LayoutFlagCentreH = 0x100;
static const u32 LayoutFlagRight = 0x200;
static const u32 LayoutFlagCentreV = 0x1000;
static const u32 LayoutFlagBottom = 0x2000;
static const u32 LayoutFlagSilent = 0x4000;
static const u32 LayoutFlagRestartQuestionWhenSilent = 0x8000;

static const u32 ButtonBarEtchedLine = 0x1;
static const u32 ButtonBarKeepVisualStyles = 0x2;

static const u32 SystemColour = 0xFFFFFFFFu;

// ---------------------------------------------------------------------------
// Group record (0x143E)

enum GroupOffset : u32 {
  GroupFlags = 0,         // u16
  GroupFlags2 = 2,        // u32
  GroupDisplayName = 6,   // text
  GroupSecondName = 14,   // text
  GroupRegistryRoot = 18, // u32
  GroupRegistryKey = 22,  // text
  GroupRegistryValue = 26,
  GroupDefaultFolder = 30,
  GroupIniFile = 38,
  GroupIniSection = 42,
  GroupIniKey = 46,
  GroupPageSequence = 50,  // 12 bytes, ended by 0xFF
  GroupTextGroups = 62,    // 10 x u32
  GroupHeaderSize = 102,
};
static const u32 GroupTextFieldCount = 8;
static const u32 GroupTextFields[GroupTextFieldCount] = {
    GroupDisplayName, GroupSecondName, GroupRegistryKey, GroupRegistryValue,
    GroupDefaultFolder, GroupIniFile, GroupIniSection, GroupIniKey};
static const u32 PageSequenceLength = 12;
static const u8 PageSequenceEnd = 0xFF;
static const u32 TextGroupCount = 10;

static const u16 GroupFlagFullSpaceCount = 0x1;
static const u16 GroupFlagFolderChangeable = 0x2;
static const u16 GroupFlagFolderToRegistry = 0x4;
static const u16 GroupFlagFolderToIni = 0x8;
static const u16 GroupFlagAppendUninstaller = 0x10;
static const u16 GroupFlagUninstallEntry = 0x20;
static const u16 GroupFlagLaunchButton = 0x40;
static const u16 GroupFlagRunCheckBox = 0x80;

static const u32 Group2InstallBehindScenes = 0x20;
static const u32 Group2NoFinishPage = 0x40;
static const u32 Group2TitleInCaption = 0x20000000;

enum PageKind : u8 {
  PageWelcome = 0,
  PageInformation = 1,
  PageLicence = 2,
  PageInstallFolder = 3,
  PageReady = 4,
  PageInstalling = 5,
  PageFinish = 6,
};

// ---------------------------------------------------------------------------
// Page entries and control entries of the layout record

// A page entry: this 56-byte head, addressed by the page table; its control
// tables are addressed by offsets from the start of the entry.
enum PageEntryOffset : u32 {
  PageEntryFlags = 0,
  PageEntryBackground = 4,        // page and non-edit controls
  PageEntryTextColour = 8,
  PageEntryEditBackground = 12,
  PageEntrySideWidth = 16,        // i32; also the page window's left edge
  PageEntrySideBackground = 20,
  PageEntrySideImage = 24,        // image number, 0 = none
  PageEntryHeaderHeight = 28,     // i32; also the page window's top edge
  PageEntryHeaderBackground = 32,
  PageEntryHeaderTextColour = 36,
  PageEntryHeaderImage = 40,
  PageEntryControlCount = 44,     // u16
  PageEntryHeaderControlCount = 46,  // u16
  PageEntryControls = 48,         // u32 offset from the entry
  PageEntryHeaderControls = 52,   // u32 offset from the entry
  PageEntrySize = 56,
};

static const u32 PageFlagSideLine = 0x10;           // etched line right of the side pane
static const u32 PageFlagSideImageCentred = 0x20;
static const u32 PageFlagSideImageFramed = 0x40;
static const u32 PageFlagHeaderLine = 0x100;        // etched line under the header
static const u32 PageFlagHeaderImageCentredV = 0x200;
static const u32 PageFlagHeaderImageFramed = 0x400;
static const u32 PageFlagHeaderImageRight = 0x800;

// A control entry, 32 bytes; coordinates in pixels within the parent pane,
// right and bottom exclusive.
enum ControlEntryOffset : u32 {
  ControlEntryKind = 0,  // u16
  ControlEntryId = 2,    // u16
  ControlEntryStyle = 4,
  ControlEntryExStyle = 8,
  ControlEntryFlags = 12,
  ControlEntryLeft = 16,
  ControlEntryTop = 20,
  ControlEntryRight = 24,
  ControlEntryBottom = 28,
  ControlEntrySize = 32,
};

enum ControlKind : u16 {
  ControlStatic = 1,
  ControlEdit = 2,
  ControlPushButton = 3,
  ControlCheckBox = 4,
  ControlRadioButton = 5,
  ControlGroupBox = 6,
  ControlProgressBar = 12,
  ControlRichText = 15,
};
// Control flag bit 0 of a rich-text control: an input box (takes focus, keeps
// a selection, edit background colour).
static const u32 ControlFlagInputBox = 0x1;

// Control ids with a fixed role.
enum ControlId : u16 {
  ControlIdNext = 1,
  ControlIdCancel = 2,
  ControlIdText0 = 1000,  // 1000 to 1003 receive the page's texts 2 to 5
  ControlIdText1 = 1001,
  ControlIdText2 = 1002,  // also the licence page's agree button
  ControlIdText3 = 1003,  // also the licence page's disagree button
  ControlIdFolder = 1004,
  ControlIdBrowse = 1005,
  ControlIdCurrentFile = 1008,
  ControlIdProgressBar = 1009,
  ControlIdPercent = 1010,
  ControlIdProgressGroup = 1011,
  ControlIdLaunch = 1014,
  ControlIdRunAfter = 1015,
  ControlIdSpaceNeeded = 1016,
  ControlIdSpaceNeededLabel = 1017,
  ControlIdSpaceFreeLabel = 1018,
  ControlIdSpaceFree = 1019,
  ControlIdBack = 1045,
  ControlIdPageTitle = 1046,
  ControlIdPageSubtitle = 1047,
};

// ---------------------------------------------------------------------------
// File list record (0x143A) and its entries

enum EntryOffset : u32 {
  EntryLength = 0,      // u16
  EntryState = 2,       // u16
  EntryIconIndex = 4,   // u16
  EntryDataOffset = 6,  // u32
  EntryPackedSize = 10,
  EntryKeptCopy = 14,
  EntrySize = 18,
  EntryChecksum = 22,
  EntryFlags = 26,
  EntryOptions = 30,
  EntryDestination = 34,
  EntryReserved = 38,
  EntryFixedSize = 42,
};
static const u32 EntryVersionBlockSize = 20;
static const u32 EntryFileTimesSize = 24;
static const u32 EntryPackageStrings = 9;  // strings 0 to 8 ...
static const u32 EntryCustomFolderString = 9;  // ... and 9 for the custom folder
static const u32 EntryMaxLength = 0xFFFF;      // the length field is a u16

// Version block fields (offsets inside the block at EntryFixedSize).
static const u32 VersionBlockMs = 0;
static const u32 VersionBlockLs = 4;
static const u32 VersionBlockSecondMs = 8;
static const u32 VersionBlockSecondLs = 12;
static const u32 VersionBlockLanguage = 16;

static const u16 EntryStateUninstaller = 0x2;

static const u32 FileFlagCheckSpace = 0x1;
static const u32 FileFlagCompareVersion = 0x2;
static const u32 FileFlagCompareLanguage = 0x4;
static const u32 FileFlagTimes = 0x8;
static const u32 FileFlagOnlyIfAbsent = 0x40;
static const u32 FileFlagNotLogged = 0x80;
static const u32 FileFlagSourceFolder = 0x100;
static const u32 FileFlagFolderEntry = 0x200;
static const u32 FileFlagShared = 0x400;
static const u32 FileFlagScreenSaver = 0x800;
static const u32 FileFlagSelfRegister = 0x1000;
static const u32 FileFlagWindowsMask = 0xFE000;  // bits 13 to 19
static const u32 FileFlagStartMenuShortcut = 0x400000;
static const u32 FileFlagDesktopShortcut = 0x800000;
static const u32 FileFlagRunPhaseMask = 0x7000000;
static const u32 FileFlagRunPhaseShift = 24;
static const u32 FileFlagDocument = 0x8000000;
static const u32 FileFlagWait = 0x10000000;
static const u32 FileFlagDeferRun = 0x80000000u;

static const u32 FileOptionStartMenuWindowMask = 0x3;  // 1 minimised, 2 maximised
static const u32 FileOptionDesktopWindowShift = 2;
static const u32 FileOptionReadOnly = 0x1000;
static const u32 FileOptionRegisterShift = 13;
static const u32 FileOptionRegisterMask = 0x6000;
static const u32 FileOptionRegistryScript = 0x2000;  // wins when both bits are set
static const u32 FileOptionTypeLibrary = 0x4000;
static const u32 FileOptionOrdinary = 0x80000000u;

enum DestinationKind : u32 {
  DestInstallDir = 0,
  DestWindows = 1,
  DestSystem = 2,
  DestFonts = 3,
  DestDesktop = 5,
  DestCustom = 8,
  DestDocuments = 9,
  DestAppData = 10,
};
static const u32 DestHighestKind = 10;

// ---------------------------------------------------------------------------
// Pictures: the wizard image table (0x1436), the backdrop picture (0x1437),
// its title (0x1438) and the title style (0x143D)

// Image table: u32 count N, then N u32 offsets (from the record start) of
// packed device-independent bitmaps; offset 0 = no image.
static const u32 ImageTableSlots = 4;
// A backdrop picture is a bitmap file: this file header, then the bitmap.
static const u32 BitmapFileHeaderSize = 14;

// A device-independent bitmap: its 40-byte info header, a colour table of
// 4-byte entries, then the pixel rows (each padded to 4 bytes).
enum DibOffset : u32 {
  DibHeaderSize = 0,  // u32, 40
  DibWidth = 4,       // i32
  DibHeight = 8,      // i32; negative: rows stored top-down
  DibPlanes = 12,     // u16, 1
  DibBitCount = 14,   // u16
  DibCompression = 16,  // u32, 0 = uncompressed rows
  DibColoursUsed = 32,  // u32
  DibInfoHeaderSize = 40,
};
static const u32 DibColourSize = 4;  // blue, green, red, 0
// The largest width and height a package picture may claim.
static const i32 DibLargestSide = 32767;

enum TitleStyleOffset : u32 {
  TitleShadowColour = 0,
  TitleTextColour = 4,
  TitleAlignment = 8,  // 0 = left, otherwise right
  TitleFont = 12,      // LOGFONTA, 60 bytes
  TitleStyleSize = 72,
};

// Windows versions, one bit each (the platform classes of the run).
static const u32 OsWin95 = 0x2000;
static const u32 OsWin98 = 0x4000;
static const u32 OsWinMe = 0x8000;
static const u32 OsWinNT4 = 0x10000;
static const u32 OsWin2000 = 0x20000;
static const u32 OsWinXP = 0x40000;
static const u32 OsWinVista = 0x80000;

// ---------------------------------------------------------------------------
// Little-endian access. Every caller has checked the bounds first.

static inline u16 ReadU16(const u8* p) { return (u16)(p[0] | (p[1] << 8)); }
static inline u32 ReadU32(const u8* p) {
  return (u32)p[0] | ((u32)p[1] << 8) | ((u32)p[2] << 16) | ((u32)p[3] << 24);
}
static inline void WriteU16(u8* p, u16 v) {
  p[0] = (u8)v;
  p[1] = (u8)(v >> 8);
}
static inline void WriteU32(u8* p, u32 v) {
  p[0] = (u8)v;
  p[1] = (u8)(v >> 8);
  p[2] = (u8)(v >> 16);
  p[3] = (u8)(v >> 24);
}

// s = (s rotated left by 1 bit) + byte: the checksum of file data and the
// instance key of the program path.
static inline u32 RotateAddSum(u32 s, const u8* data, size_t n) {
  for (size_t i = 0; i < n; ++i) s = ((s << 1) | (s >> 31)) + data[i];
  return s;
}

// ---------------------------------------------------------------------------
// Bounds-checked views of decoded records (shared by loader and inspector)

// Length of the NUL-terminated string at `offset`, or -1 when it does not end
// inside the record.
static inline long StringLengthIn(const u8* record, u32 length, u32 offset) {
  for (u32 i = offset; i < length; ++i)
    if (record[i] == 0) return (long)(i - offset);
  return -1;
}
