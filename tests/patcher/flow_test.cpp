// Every way through the patcher, one row each: the world it meets, the answers given, and what
// the user sees, the exit code, the recorded version, the game files and the other effects.
#include <memory>

#include "archive/hpfs.h"
#include "file/disk_file.h"
#include "file/file_service.h"
#include "patcher/patcher_state.h"
#include "patcher_world.h"
#include "support/hpfs_store.h"
#include "support/memory_file.h"

namespace {

constexpr u32 kAbsent = 0xFFFFFFFFu;
const std::string kAll = "*";  // nothing on the disk changed
const std::string kDone = "dialog ended";

struct Row {
  std::string name;
  void (*arrange)(World&);
  std::string answers;             // one letter per box (patcher_world.h)
  std::vector<std::string> boxes;  // "<kind>:<text or key of the shipped texts>"
  int exit;
  u32 version;       // GameVersion afterwards
  std::string kept;  // the targets left old, in member order (OldTargets); kAll; "-" unchecked
  std::vector<std::string> effects;  // besides the progress dialog's texts
};

std::string Shipped(const std::string& key) {
  const size_t at = kShippedIni.find("\n" + key + "=");
  if (at == std::string::npos) return key;
  std::string text = kShippedIni.substr(at + key.size() + 2);
  text.resize(text.find('\n'));
  for (char& c : text) c = c == '|' ? '\n' : c;
  return text;
}

std::string Link(const std::string& folder, const std::string& name = "Client") {
  return "link " + kMenu + folder + "\\" + name + ".lnk -> " + kGame + "pwt\\pwtclient.exe in " +
         kGame + "pwt icon " + kGame + "pwt\\pwtclient.exe named " + name;
}

constexpr u16 kCreate = OPEN_READ | OPEN_WRITE | OPEN_CREATE | OPEN_TRUNCATE;

// Whether `text` went whole into a file just opened (null when the open failed).
bool Written(CFile* opened, const std::string& text) {
  std::unique_ptr<CFile> file(opened);
  u32 done = 0;
  return file && !file->Write(text.data(), static_cast<u32>(text.size()), &done);
}

// The game's localisation pack with these two values, plain, in a container or as an HPFS store.
std::string LocalPack(const std::string& language, const std::string& peon, char form) {
  const std::string strings3 = "[system]\nlanguage=" + language + "\n";
  const std::string strings = "[objects]\npeon=" + peon + "\n";
  if (form != 'h') {
    const std::vector<u8> pack =
        BuildPack({{"LOCAL/strings3.ini", strings3}, {"LOCAL/strings.ini", strings}});
    const std::string bytes(pack.begin(), pack.end());
    return form == 'l' ? Container(bytes) : bytes;
  }
  MemoryFile* file = nullptr;
  auto files = std::make_unique<CHPFS>(AttachHpfs(EmptyHpfsBytes(512, 16, 4096), &file).release());
  EXPECT_EQ(files->CreateDir("", "LOCAL"), nullptr);
  EXPECT_TRUE(Written(files->Open("LOCAL\\strings3.ini", kCreate, nullptr), strings3));
  EXPECT_TRUE(Written(files->Open("LOCAL\\strings.ini", kCreate, nullptr), strings));
  EXPECT_EQ(files->Pool()->Flush(), nullptr);
  return std::string(file->bytes.begin(), file->bytes.end());
}

#define WORLD(body) [](World& w) { body; }
#define PACK(language, peon, form) \
  WORLD(w.image[kGame + "packs\\local.wdt"].bytes = LocalPack(language, peon, form))
#define WELCOME2(text)            \
  w.ini += "welcome2=" text "\n"; \
  w.strings["Path"] = kGame;      \
  w.image[kGame + "vorn.exe"].bytes = "MZ"

// The world's pack, changed by `body`, as the payload: unsealed, or sealed as the tool writes it
// and then changed.
#define PAYLOAD(body) WORLD(std::vector<u8> p = WorldPack(w); body; w.patchBytes = PatchOfPack(p))
#define SEALED(body) WORLD(w.patchBytes = PatchOfPack(WorldPack(w), true); body)
// A game pack whose header claims blocks that a reader would need 3.5 GiB for.
const std::string kHugeBlocks =
    std::string("LZSS\xFF\xFF\xFF\xDF\x00\x00\x00\xE0\xC4\x00\x12\x00\x00\x00", 18) +
    std::string(64, '\0');
const std::string kBroken = "O:Patch file is broken!";

constexpr u32 kSame = 0;  // GameVersion as before the run
const std::string kMap = "DATA\\MAPS\\ONE.MAP,";
const std::string kErrMap = "A:Error copying DATA\\MAPS\\ONE.MAP";

void RestoreRulesAtQuestion(u32 type) {
  if (type != MB_TYPE_ABORT_RETRY_IGNORE) return;
  EXPECT_TRUE(Written(FileServiceTable.Open((kGame + "RULES.DAT").c_str(), kCreate, nullptr),
                      Rules(false)));
}
#define CODED(body) WORLD(AddCodedMembers(w); body)
const std::string kErrRules = "A:Error copying RULES.DAT";
const std::string kErrNotes = "A:Error copying NOTES.TXT";
const std::string kGroup = "NOTES.TXT,SOUNDS\\EMPTY.WAV,SOUNDS\\HIT.WAV,";

Row Refused(const std::string& name, void (*arrange)(World&), const std::string& key) {
  return {name, arrange, "", {"Q:welcome", "E:" + key}, -1, kSame, kAll, {}};
}
Row Silent(const std::string& name, void (*arrange)(World&), const std::string& box = "") {
  return {name, arrange, "",   box.empty() ? std::vector<std::string>{} : std::vector{box},
          -1,   kSame,   kAll, {}};
}
Row Completes(const std::string& name, void (*arrange)(World&),
              const std::string& welcome = "welcome", std::vector<std::string> effects = {}) {
  effects.insert(effects.begin(), kDone);
  return {name, arrange, "", {"Q:" + welcome, "O:done"}, 0, 0x10001, "", effects};
}

// clang-format off
std::vector<Row> Rows() {
  std::vector<Row> rows = {
    Completes("complete", nullptr),
    {"answered no", nullptr, "n", {"Q:welcome"}, -1, kSame, kAll, {}},
    Silent("no Patch.ini", WORLD(w.ini = "")),
    Silent("own file without payload", WORLD(w.patchBytes = "MZ an image and LZSS but no container"),
           "O:Patch file is broken!"),
    // A payload is checked whole before its first use (the check itself has its own tests): an
    // empty component made the copy walk one folder forever.
    Silent("payload name with an empty component", PAYLOAD(p[PackEntryOffset(p, 1) + 2] = '\\')),
    Completes("sealed", SEALED()),
    Silent("sealed, a stored byte changed", SEALED(w.patchBytes[w.patchBytes.size() - 5000] ^= 1), kBroken),
    Silent("no own path at all", WORLD(w.commandLine = ""; w.moduleName = std::string(300, 'm'))),
    Refused("game running", WORLD(w.gameRunning = true), "vornrun"),
    Refused("no registry key", WORLD(w.keyExists = false), "notvorn"),
    Refused("no Path", WORLD(w.strings.erase("Path")), "notvorn"),
    Refused("no Vorn.exe", WORLD(w.image.erase(kGame + "Vorn.exe")), "notvorn"),
    // The registry hands back a text that fills its buffer without a NUL; the folder was then
    // read past its end, and a 255-character folder got its backslash outside the buffer.
    Refused("Path of 255", WORLD(w.strings["Path"] = "C:\\" + std::string(252, 'x')), "notvorn"),
    Refused("Path of 256", WORLD(w.strings["Path"] = "C:\\" + std::string(253, 'x')), "notvorn"),
    Refused("newer version", WORLD(w.dwords["GameVersion"] = 0x10002), "noneed"),
    // "vermin" was carried but never used: a patch went over versions it was not made for.
    Refused("below vermin", WORLD(w.dwords["GameVersion"] = 0xFFFF), "errvermin"),
    Refused("registry language", WORLD(w.strings["Language"] = "German"), "wronglang"),
    Refused("pack language", PACK("German", "peasant", 'p'), "wronglang"),
    Refused("pack peon", PACK("English", "Bauer", 'l'), "wronglang"),
    Refused("store language", PACK("French", "peasant", 'h'), "wronglang"),
    {"no vermin, no texts", WORLD(w.ini = "[str]\nver=10001\n"; w.dwords["GameVersion"] = 0), "",
     {"Q:", "O:"}, 0, 0x10001, "", {kDone}},
    Completes("equal version, other case", WORLD(w.dwords["GameVersion"] = 0x10001;
                                                 w.strings["Language"] = "eNGLISH")),
    Completes("no version, no language", WORLD(w.dwords.clear(); w.strings.erase("Language"))),
    Completes("empty lang", WORLD(w.ini += "lang=\n"; w.strings["Language"] = "German")),
    Completes("pack wrapped", PACK("english", "PEASANT", 'l')),
    Completes("pack no reader can afford", WORLD(w.image[kGame + "packs\\local.wdt"].bytes = kHugeBlocks)),
    Completes("pack of neither kind", WORLD(w.image[kGame + "packs\\local.wdt"].bytes = "neither")),
    Completes("welcome2", WORLD(WELCOME2("Update %d.%02d in %s?")), "Update 1.00 in C:\\Games\\Vorn\\?"),
    Completes("welcome2 without version", WORLD(WELCOME2("Update %d.%02d in %s?"); w.dwords.clear()),
              "Update 1.00 in C:\\Games\\Vorn\\?"),
    Completes("welcome2 and Path without backslash",
              WORLD(WELCOME2("Update %d.%02d in %s?"); w.strings["Path"] = "C:\\Games\\Vorn")),
    // "welcome2" was a print format of three arguments: %n wrote to memory.
    Completes("welcome2 unsafe", WORLD(WELCOME2("Bad %n %d %d %s %s")), "Bad %n %d %d %s %s"),
    // The own path was cut at the last quote of the command line: a quoted argument made the
    // patcher open another file.
    Completes("own path is the first quoted token", WORLD(w.commandLine += "\"C:\\Patch\\other.exe\"";
                                                           w.image["C:\\Patch\\other.exe"].bytes = "MZ")),
    Completes("own path unquoted", WORLD(w.commandLine = kPatch)),
    Completes("own path unterminated", WORLD(w.commandLine = "\"unterminated")),
    {"retry after a full disk", WORLD(w.fault = SimDisk::Fault::kDiskFull; w.faultAt = 1), "yr",
     {"Q:welcome", kErrMap, "O:done"}, 0, 0x10001, "", {kDone}},
    {"abort", WORLD(w.fault = SimDisk::Fault::kDiskFull; w.faultAt = 1), "ya",
     {"Q:welcome", kErrMap, "E:errnotcomplete"}, -1, kSame, kMap + "DATA\\UNITS.INI,EMPTY.DAT,README.TXT,", {}},
    // Ignored failures skip the final steps; a read-only file that could not be replaced stays so.
    {"ignore", WORLD(w.image[kGame + "DATA"].bytes = "a file"; w.heldOpen = kGame + "README.TXT";
                     w.ini += "pwt_shortcut=1\ngamespy=Install?\n"), "yriii",
     {"Q:welcome", kErrMap, kErrMap, "A:Error copying DATA\\UNITS.INI", "A:Error copying README.TXT",
      "O:errnotcomplete"}, 0, kSame, kMap + "DATA\\UNITS.INI,README.TXT,", {kDone}},
    // A member among the temporaries would be overwritten by the next file's.
    {"member in the staging folder", WORLD(w.members["Files/VORNPATCH.VP~/0/1"] = "x"), "yi",
     {"Q:welcome", "A:Error copying VORNPATCH.VP~\\0\\1", "O:errnotcomplete"}, 0, kSame,
     "VORNPATCH.VP~\\0\\1,", {kDone}},
    // Target paths of 256 characters or more did not fit their buffer.
    {"overlong member", WORLD(w.members["Files/" + std::string(240, 'L') + ".TXT"] = "x"), "yi",
     {"Q:welcome", "A:Error copying " + std::string(240, 'L') + ".", "O:errnotcomplete"}, 0, kSame,
     std::string(240, 'L') + ".TXT,", {kDone}},
    // Coded members: a delta is applied only to the file it was made from, and a stream only
    // once it checked; what failed is asked about and stays as it was.
    Completes("coded members", CODED()),
    Completes("delta already applied", CODED(w.image[kGame + "RULES.DAT"].bytes = Rules(true))),
    {"delta whose source changed", CODED(w.image[kGame + "RULES.DAT"].bytes[5] ^= 1), "yi",
     {"Q:welcome", kErrRules, "O:errnotcomplete"}, 0, kSame, "RULES.DAT,", {kDone}},
    {"delta whose source is missing", CODED(w.image.erase(kGame + "RULES.DAT")), "yi",
     {"Q:welcome", kErrRules, "O:errnotcomplete"}, 0, kSame, "RULES.DAT,", {kDone}},
    {"delta retried after its source is restored",
     CODED(w.image[kGame + "RULES.DAT"].bytes += "x"; w.onBox = RestoreRulesAtQuestion), "yr",
     {"Q:welcome", kErrRules, "O:done"}, 0, 0x10001, "", {kDone}},
    {"damaged coded stream", CODED(w.members["CODED/MOVIES/INTRO.VID"][34] ^= 0x10), "yi",
     {"Q:welcome", "A:Error copying MOVIES\\INTRO.VID", "O:errnotcomplete"}, 0, kSame,
     "MOVIES\\INTRO.VID,", {kDone}},
    {"group whose output differs", CODED(w.members["SOLID/0001"][24] ^= 1), "yi",
     {"Q:welcome", "A:Error copying SOLID\\0001", "O:errnotcomplete"}, 0, kSame, kGroup, {kDone}},
    {"group whose table names another CRC",
     CODED(AddSolid(w, "0001", {{"Files/NOTES.TXT", "notes"}, {"Files/SOUNDS/HIT.WAV", "hit"}}, 1)),
     "yi", {"Q:welcome", "A:Error copying SOUNDS\\HIT.WAV", "O:errnotcomplete"}, 0, kSame, kGroup,
     {kDone}},
    // A checked group puts its files in place one by one, as the FILES tree does.
    {"disk full while a group is written", CODED(w.fault = SimDisk::Fault::kDiskFull; w.faultAt = 8),
     "yi", {"Q:welcome", kErrNotes, "O:errnotcomplete"}, 0, kSame, "NOTES.TXT,", {kDone}},
    {"held target of a group", CODED(w.heldOpen = kGame + "NOTES.TXT"), "yri",
     {"Q:welcome", kErrNotes, kErrNotes, "O:errnotcomplete"}, 0, kSame, "NOTES.TXT,", {kDone}},
    {"held target of a group, aborted", CODED(w.heldOpen = kGame + "NOTES.TXT"), "ya",
     {"Q:welcome", kErrNotes, "E:errnotcomplete"}, -1, kSame, kGroup, {}},
    Completes("shortcut in every vorn folder",
              WORLD(w.ini += "pwt_shortcut=1\npwt_name=Net\n";
                    for (auto f : {"\\Games", "\\Games\\VORN", "\\vorn", "\\vorn\\Vorn", "\\Other"})
                      w.image[kMenu + f].folder = true;
                    w.image[kMenu + "\\Other\\vorn"].bytes = "a file"),
              "welcome", {Link("\\Games\\VORN", "Net"), Link("\\vorn", "Net"), Link("\\vorn\\Vorn", "Net")}),
    Completes("shortcut in the programs folder",
              WORLD(w.ini += "pwt_shortcut=1\npwt_name=Client\n"; w.image[kMenu + "\\Games"].folder = true;
                    w.image[kMenu + "\\Games\\Vorn"].bytes = "a file"), "welcome", {Link("")}),
    {"installer declined", WORLD(w.ini += "gamespy=Install?\n"), "yn",
     {"Q:welcome", "Y:Install?", "O:done"}, 0, 0x10001, "", {kDone}},
    {"installer from a folder with blanks",
     WORLD(w.ini += "gamespy=Install?\n"; w.strings["Path"] = "C:\\Program Files\\Vorn";
           w.image["C:\\Program Files"].folder = w.image["C:\\Program Files\\Vorn"].folder = true;
           w.image["C:\\Program Files\\Vorn\\Vorn.exe"].bytes = "MZ"), "",
     {"Q:welcome", "Y:Install?", "O:done"}, 0, 0x10001, "-",
     {kDone, "start 5 \"C:\\Program Files\\Vorn\\GameSpy Arcade\\ArcadeInstallFull101b.EXE\""}},
  };
  // Any other way of asking makes no shortcut, and a name that is not one plain file name none.
  for (const char* extra : {"pwt_shortcut=01\n", "pwt_shortcut=yes\n", "pwt_name=Client\n",
                            "pwt_shortcut=1\npwt_name=..\\..\\Startup\\evil\n", "pwt_shortcut=1\npwt_name=C:evil\n",
                            "pwt_shortcut=1\npwt_name=..\n", "pwt_shortcut=1\npwt_name=a/b\n",
                            "pwt_shortcut=1\npwt_name=x..y\n"}) {
    rows.push_back(Completes(extra, nullptr));
  }
  return rows;
}
// clang-format on

TEST(PatcherFlow, EveryWayThrough) {
  for (const Row& row : Rows()) {
    SCOPED_TRACE(row.name);
    World world = DefaultWorld();
    if (row.arrange)
      row.arrange(world);
    else if (row.name.find('\n') != std::string::npos)
      world.ini += row.name;
    world.answers = row.answers;
    SimDisk disk;
    const u32 known = world.dwords.count("GameVersion") ? world.dwords["GameVersion"] : kAbsent;
    EXPECT_EQ(RunPatch(world, disk), row.exit);
    EXPECT_EQ(disk.OpenHandles(), 0u) << "handles left open";
    EXPECT_EQ(world.openKeys, 0) << "registry keys left open";
    EXPECT_FALSE(disk.Killed().count(kGame + kStagingFolder)) << "the staging folder is left";
    std::vector<std::string> boxes;
    for (const std::string& box : row.boxes)
      boxes.push_back(box.substr(0, 2) + Shipped(box.substr(2)));
    EXPECT_EQ(world.boxes, boxes);
    const u32 version = world.dwords.count("GameVersion") ? world.dwords["GameVersion"] : kAbsent;
    EXPECT_EQ(version, row.version == kSame ? known : row.version);
    std::vector<std::string> effects = row.effects;
    const bool shipped = world.ini.find("title=VORN") != std::string::npos;
    if (row.kept != kAll) {
      effects.insert(effects.begin(), {shipped ? "title VORN Patch" : "title ",
                                       shipped ? "item 1000 Updating VORN..." : "item 1000 "});
    }
    EXPECT_EQ(world.effects, effects);
    if (row.kept == kAll) {
      SimDisk::Image after = disk.Killed();
      after.erase(kPatch);
      EXPECT_EQ(after, world.image);
    } else if (row.kept != "-") {
      EXPECT_EQ(OldTargets(world, world.image, disk.Killed(), false), row.kept);
    }
  }
}

}  // namespace
