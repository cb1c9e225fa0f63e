// The configuration text: read from the module, scanned into the panel, gathered from it and
// written in the layout of the series, and saved to and loaded from files through the file
// dialogs. The register table itself is pinned by what reads, writes and files put on the
// wire and on disk.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <numeric>
#include <optional>
#include <random>
#include <regex>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "core/link/connection.h"
#include "core/params/config_text.h"
#include "core/params/parameter_set.h"
#include "core/params/textual_forms.h"
#include "runtime/serial/rs232.h"
#include "runtime/ui/ui_test_seam.h"
#include "runtime/ui/userint.h"
#include "tests/support/panel_fixture.h"
#include "tests/support/simulated_module.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"
#include "window/panel/register_controls.h"
#include "window/params/params_panel.h"
#include "window/product/product_panel.h"

// Module options name only what they change; the rest keep their defaults.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace {

namespace fs = std::filesystem;

// Every register control of the panel, high parts and low parts.
const std::vector<int> registerControls = [] {
    std::vector<int> controls;
    for (const RegisterRow& row : kRegisterTable) {
        controls.push_back(ControlsOf(row).high);
        if (row.low != nullptr) {
            controls.push_back(ControlsOf(row).low);
        }
    }
    return controls;
}();

// The panel's registers, S115 and S116, which no record may touch, and ID_LEN; with the
// changes a test expects made to them.
std::map<int, int> Snapshot(std::map<int, int> values = {}) {
    for (int control : registerControls) {
        values.emplace(control, panel::Value(control));
    }
    for (int control : {S115, S116, ID_LEN}) {
        values.emplace(control, panel::Value(control));
    }
    return values;
}

using panel::Popups;

// 300 characters of reply: S111, spaces, S100 (each record after `separator`), then `last`
// up to the 300th character; `rest` follows but is never taken.
std::string Padded(const std::string& last, const std::string& separator = "\r\n",
                   const std::string& rest = "0\r\nS130=5\r\n>") {
    const std::string head = "S111=9" + separator;
    const std::string middle = separator + "S100=77" + separator;
    return head + std::string(300 - head.size() - middle.size() - last.size(), ' ') + middle +
           last + rest;
}

const std::string kCommandError = "Command Error| Communication Error! Please Re-try ||";

struct ReadCase {
    const char* name;
    ModuleOptions module;
    uint32_t baudRate = 9600;
    std::map<int, std::string> registers = {};  // set in the module before the read
    std::map<int, int> changed = {};            // every control the read changes, and to what
    std::string popup = "Command Ok|Done! Reading successfull! ";
    const char* leave = "ATX";
    double giveUp = 0;               // seconds from "AT/L" to the leave command
    const char* lastRate = nullptr;  // the rate list rebuilt, ending with this item
};

TEST(Reading, TakesTheReplyIntoThePanelOrChangesNothing) {
    const std::map<int, std::string> fskRates = {{100, "30"}, {110, "5"}, {113, "0"}};
    const std::string noReply = kCommandError +
                                "The register list (\"AT/L\") did not come whole: 0 characters "
                                "and no \">\".";
    const ModuleOptions silent = {.cutReplyAfter = 0};
    // clang-format off
    const ReadCase cases[] = {
        // The series set-up leaves S100 and S110 other than the module's defaults.
        {.name = "a whole list", .module = {.series = 1, .twoByteIds = true},
         .registers = {{111, "7"}, {120, "10.20"}, {121, "30.40"}, {130, "90.99"}},
         .changed = {{S100, 50}, {S110, 3}, {S111, 7}, {S120_H, 10}, {S120_L, 20}, {S121_H, 30},
                     {S121_L, 40}, {S130_H, 90}, {S130_L, 99}, {ID_LEN, 1}}},
        // Seven empty polls, each as long as the line's baud rate asks for.
        {.name = "no reply", .module = silent, .popup = noReply, .giveUp = 0.35},
        {.name = "no reply, 1200 baud", .module = silent, .baudRate = 1200, .popup = noReply,
         .giveUp = 0.7},
        {.name = "no reply, 300 baud", .module = silent, .baudRate = 300, .popup = noReply,
         .giveUp = 1.05},
        {.name = "a cut reply", .module = {.series = 4, .cutReplyAfter = 60},
         .popup = kCommandError + "The register list (\"AT/L\") did not come whole: 60 "
                                  "characters and no \">\".",
         .leave = "ATO"},
        // The record the 300th character cuts is dropped, however it ends; every whole one
        // before it is kept, line ends or not.
        {.name = "300 characters", .module = {.registerListOverride = Padded("S125=12")},
         .changed = {{S111, 9}, {S100, 77}}},
        {.name = "300 characters without line ends",
         .module = {.registerListOverride = Padded("S125=12", "   ", "3   S130=5>")},
         .changed = {{S111, 9}, {S100, 77}}},
        // A reply that ends exactly at its limit is whole, with or without ">".
        {.name = "300 characters, then silence",
         .module = {.registerListOverride = Padded("S125=1\r\n", "\r\n", "")},
         .changed = {{S111, 9}, {S100, 77}, {S125, 1}}},
        // A break on the line reads as a zero byte: one more character between records.
        {.name = "a zero byte",
         .module = {.registerListOverride = std::string("S100=60\r\n\0S111=9\r\n>", 19)},
         .changed = {{S100, 60}, {S111, 9}}},
        // The M5 rebuilds its rates for the modulation read, which sets the buffer to 50,
        // and shows the rate read even where the list its set-up left lacks it.
        {.name = "M5, FSK", .module = {.series = 4}, .registers = fskRates,
         .changed = {{S110, 5}}, .leave = "ATO", .lastRate = "115.2kbps"},
        {.name = "M5, LoRa", .module = {.series = 4},
         .registers = {{100, "30"}, {110, "6"}, {113, "1"}}, .changed = {{S110, 6}, {S113, 1}},
         .leave = "ATO", .lastRate = "18750 bps"},
        {.name = "R3", .module = {.series = 6}, .registers = fskRates,
         .changed = {{S100, 30}, {S110, 5}, {S113, 0}}},
    };
    // clang-format on
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        sim::SimulatedModule module(c.module);
        for (const auto& [number, text] : c.registers) {
            module.module().setRegister(number, text);
        }
        ASSERT_GE(LoadTestPanel(), 0);
        panel::Commit(PRODUCT, c.module.series);
        ASSERT_EQ(OpenComConfig(1, "", c.baudRate, RS232_PARITY_NONE, 8, 1, 512, 512), 0);
        connection = ConnectionState{1, true, c.baudRate, 0};
        const std::map<int, int> expected = Snapshot(c.changed);
        const panel::Items rateList = panel::ListItems(S110);

        panel::Press(READ);
        EXPECT_EQ(Popups(), std::vector<std::string>{c.popup});
        EXPECT_EQ(Snapshot(), expected);
        const std::string sent = module.sentByHost();
        EXPECT_EQ(sent.substr(sent.find("AT/L")), std::string("AT/L\n") + c.leave + "\n");
        EXPECT_EQ(panel::ListItems(S110).size(), c.lastRate ? 8u : rateList.size());
        EXPECT_EQ(panel::ListItems(S110).back().first,
                  c.lastRate ? c.lastRate : rateList.back().first);
        if (c.giveUp > 0) {
            EXPECT_NEAR(module.hostByteTimes('X').at(0) - module.hostByteTimes('/').at(0), c.giveUp,
                        0.01);
        }
        CloseCom(1);
        DiscardTestPanel();
    }
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ProgramDir() {
    char directory[MAX_PATHNAME_LEN] = {};
    GetProjectDir(directory);
    return directory;
}

class SettingFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zelk-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        ASSERT_GE(LoadTestPanel(), 0);
    }
    void TearDown() override {
        DiscardTestPanel();
        fs::remove_all(dir_);
    }
    // Presses the button and answers its file dialog with the name, or cancels it.
    std::vector<std::string> Use(int button, const std::string& name) {
        if (name.empty()) {
            ui_testing::CancelNextFileSelect();
        } else {
            ui_testing::AnswerNextFileSelect((dir_ / name).string());
        }
        panel::Press(button);
        return Popups();
    }
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    fs::path dir_;
    // The tests run from the build tree, beside the panel file: the save dialog offers the
    // program's own folder.
    const std::string saveDialog_ = "Name of File to Save in " + ProgramDir() + " *.txt only";
    const std::string loadDialog_ = "Name of File to Read in  *.txt only";
};

TEST_F(SettingFiles, CancellingChangesNothing) {
    const std::map<int, int> before = Snapshot();
    EXPECT_EQ(Use(SAVE_TO_FILE, ""), std::vector<std::string>{saveDialog_});
    EXPECT_EQ(Use(OPEN_FILE, ""), std::vector<std::string>{loadDialog_});
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 0);
    EXPECT_EQ(Snapshot(), before);
}

// Installed with the system's programs, the program finds its panel in a data directory;
// its own folder is then no place for the user's files, even for root, who could write
// there.
TEST_F(SettingFiles, AnInstalledProgramSavesToTheUsersDocumentsOrHome) {
    const fs::path data = dir_ / "share";
    fs::create_directories(data);
    fs::copy_file("ZelkConfig_en.uir", data / "ZelkConfig_en.uir");
    const std::string directories[] = {"no-such-directory", data.string()};
    const char* places[] = {directories[0].c_str(), directories[1].c_str()};
    DiscardTestPanel();
    ASSERT_EQ(SetPanelDirectories(places, 2), 0);
    const int loaded = LoadTestPanel();
    SetPanelDirectories(nullptr, 0);
    ASSERT_GE(loaded, 0) << GetPanelLoadError();

    const std::string saved[] = {getenv("HOME") ? getenv("HOME") : "",
                                 getenv("XDG_CONFIG_HOME") ? getenv("XDG_CONFIG_HOME") : ""};
    setenv("HOME", dir_.c_str(), 1);
    setenv("XDG_CONFIG_HOME", dir_.c_str(), 1);  // no user-dirs.dirs: Documents in HOME
    const std::vector<std::string> withoutDocuments = Use(SAVE_TO_FILE, "");
    fs::create_directory(dir_ / "Documents");
    const std::vector<std::string> withDocuments = Use(SAVE_TO_FILE, "");
    setenv("HOME", saved[0].c_str(), 1);
    saved[1].empty() ? unsetenv("XDG_CONFIG_HOME") : setenv("XDG_CONFIG_HOME", saved[1].c_str(), 1);

    const std::string dialog = "Name of File to Save in ";
    EXPECT_EQ(withoutDocuments, std::vector<std::string>{dialog + dir_.string() + " *.txt only"});
    EXPECT_EQ(withDocuments,
              std::vector<std::string>{dialog + (dir_ / "Documents").string() + " *.txt only"});
}

TEST_F(SettingFiles, AFailedSaveKeepsTheOldFileAndSaysSo) {
    Write("settings.txt", "S111=5\r\n>");
    // A file size limit makes the write fail as a full disk does, for root as well.
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    rlimit limit = {16, saved.rlim_max};
    void (*handler)(int) = signal(SIGXFSZ, SIG_IGN);
    setrlimit(RLIMIT_FSIZE, &limit);
    const std::vector<std::string> popups = Use(SAVE_TO_FILE, "settings.txt");
    setrlimit(RLIMIT_FSIZE, &saved);
    signal(SIGXFSZ, handler);

    EXPECT_EQ(popups, (std::vector<std::string>{
                          saveDialog_, "File Error| Saving Error! The setting is not saved:\r\n " +
                                           (dir_ / "settings.txt").string() +
                                           "\r\n the file cannot be written (File too large) "}));
    EXPECT_EQ(ReadFile(dir_ / "settings.txt"), "S111=5\r\n>");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_), {}), 1);
}

// A folder that takes no temporary file, with a file in it that its user may write: the
// save writes the file in place. Where the folder takes one, the file is replaced whole
// (a new inode) as always. Either way the file keeps its permissions. Root writes
// anywhere, so as root the test runs itself again as nobody.
TEST_F(SettingFiles, SavesInPlaceWhereTheFolderTakesNoTemporaryFile) {
    const char* self = "SettingFiles.SavesInPlaceWhereTheFolderTakesNoTemporaryFile";
    if (geteuid() == 0) {
        const std::string command = "setpriv --reuid=65534 --regid=65534 --clear-groups " +
                                    fs::read_symlink("/proc/self/exe").string() +
                                    " --gtest_filter=" + self + " 2>&1";
        std::FILE* child = popen(command.c_str(), "r");
        std::string output;
        for (char chunk[512]; std::fgets(chunk, sizeof chunk, child) != nullptr;) {
            output += chunk;
        }
        pclose(child);
        // No setpriv, or a build nobody may read: nothing to learn here.
        if (output.find("[==========]") == std::string::npos ||
            output.find("[  SKIPPED ]") != std::string::npos) {
            GTEST_SKIP() << "not run as nobody: " << output;
        }
        EXPECT_NE(output.find("[  PASSED  ] 1 test"), std::string::npos) << output;
        return;
    }
    for (const char* folder : {"open", "shut"}) {
        fs::create_directory(dir_ / folder);
        Write(std::string(folder) + "/settings.txt", "S111=5\r\n>");
        fs::permissions(dir_ / folder / "settings.txt", fs::perms(0640));
    }
    fs::permissions(dir_ / "shut", fs::perms(0555));
    if (mkdir((dir_ / "shut" / "probe").c_str(), 0700) == 0) {
        GTEST_SKIP() << "this user may write a read-only folder";
    }
    for (const auto& [folder, replaced] : {std::pair{"open", true}, std::pair{"shut", false}}) {
        SCOPED_TRACE(folder);
        const fs::path file = dir_ / folder / "settings.txt";
        struct stat before {};
        struct stat after {};
        stat(file.c_str(), &before);
        // The dialog and nothing else: no error. (Where the dialog starts depends on the
        // folders this user may write.)
        EXPECT_EQ(Use(SAVE_TO_FILE, std::string(folder) + "/settings.txt").size(), 1u);
        stat(file.c_str(), &after);
        EXPECT_EQ(ReadFile(file), configText);
        EXPECT_EQ(after.st_mode & 0777, 0640u);
        EXPECT_EQ(after.st_ino != before.st_ino, replaced);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / folder), {}), 1);
    }
    fs::permissions(dir_ / "shut", fs::perms(0755));
}

// Each file and every control its load changes, ID_LEN (from two-byte IDs) included; or the
// error it gives, and then nothing changes.
TEST_F(SettingFiles, LoadsRecordsIntoExactlyTheirControlsAndRefusesWhatItCannotRead) {
    const auto oneByte = std::pair{ID_LEN, 0};
    // Records that change the panel if taken, filling what the text holds or one more.
    const std::string full = std::string(CONFIG_TEXT_SIZE - 10, ' ') + "S125=9\r\n>";
    std::string binary(255, '\0');
    std::iota(binary.begin(), binary.end(), 1);
    ASSERT_EQ(mkfifo((dir_ / "pipe.txt").c_str(), 0600), 0);
    fs::create_symlink("/dev/zero", dir_ / "zero.txt");
    const std::string notLoaded = " Loading Error! The setting is not loaded:\r\n ";
    struct LoadCase {
        std::optional<std::string> text;  // the file's; none: made above, or missing
        std::map<int, int> changed = {};
        const char* name = "";   // "": named after its row
        std::string error = "";  // the popup's text up to the path, and after it
        const char* reason = "";
    };
    // clang-format off
    const LoadCase cases[] = {
        {.text = "", .changed = {oneByte}},
        // No end marker.
        {.text = "S100=60\r\nAT/L\r\nS111=9\r\nOK\r\n",
         .changed = {{S100, 60}, {S111, 9}, oneByte}},
        {.text = "S111=9\r\nS125=8\r\n", .changed = {{S111, 9}, {S125, 8}, oneByte}},
        {.text = "S125=300\r\n>", .changed = {{S125, 44}, oneByte}},
        {.text = "S106=5\r\nS115=1\r\nS116=99\r\n>", .changed = {oneByte}},
        // Run together: the second is lost.
        {.text = "S100=5S101=1\r\n>", .changed = {{S100, 5}, oneByte}},
        // A one-part S120 takes the low part read last in the text, or 0.
        {.text = "S120=7\r\n>", .changed = {{S120_H, 7}, {S120_L, 0}, oneByte}},
        // The form of S121 tells the ID length; low parts count only after a two-part S121.
        {.text = "S121=10.20\r\n>", .changed = {{S121_H, 10}, {S121_L, 20}}},
        {.text = "S121=10\r\nS122=11\r\nS130=13\r\n>",
         .changed = {{S121_H, 10}, {S122_H, 11}, {S130_H, 13}, oneByte}},
        {.text = "S121=1.2\r\nS122=3.4\r\nS130=7\r\n>",
         .changed = {{S121_H, 1}, {S121_L, 2}, {S122_H, 3}, {S122_L, 4}, {S130_H, 7}, {S130_L, 4}}},
        {.text = "S122=3.4\r\nS121=1.2\r\n>", .changed = {{S122_H, 3}, {S121_H, 1}, {S121_L, 2}}},
        // A value ends at the end of the text, as a last line without a line end does;
        // a record without its number and separator is dropped.
        {.text = "S100=60\r\nS111=4", .changed = {{S100, 60}, {S111, 4}, oneByte}},
        {.text = "S121=10.2", .changed = {{S121_H, 10}, {S121_L, 2}}},
        // No separator: the end comes first.
        {.text = "S100=60\r\nS125", .changed = {{S100, 60}, oneByte}},
        {.text = "S100=60\r\nS11", .changed = {{S100, 60}, oneByte}},
        // A zero byte is one more character.
        {.text = binary + '\0' + "S111=9\r\n", .changed = {{S111, 9}, oneByte}},
        {.text = full, .changed = {{S125, 9}, oneByte}},
        {.text = full + " ", .name = "large.txt",
         .error = " Loading Error! This is not a setting file:\r\n ",
         .reason = "\r\n It holds more than 1027 bytes. "},
        {.text = "S111=9\r\n>", .name = "settings.cfg",
         .error = " Loading Error! This is not a setting file. ||",
         .reason = ": setting files end in .txt"},
        {.name = "gone.txt", .error = notLoaded,
         .reason = "\r\n the file cannot be opened (No such file) "},
        {.name = "pipe.txt", .error = notLoaded,
         .reason = "\r\n the file cannot be opened (Not a regular file) "},
        {.name = "zero.txt", .error = notLoaded,
         .reason = "\r\n the file cannot be opened (Not a regular file) "},
    };
    // clang-format on
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        const LoadCase& c = cases[i];
        const std::string name = *c.name ? c.name : "records" + std::to_string(i) + ".txt";
        SCOPED_TRACE(testing::Message() << name << ": \"" << c.text.value_or("") << '"');
        if (c.text) {
            Write(name, *c.text);
        }
        DiscardTestPanel();
        ASSERT_GE(LoadTestPanel(), 0);
        // Low parts no text uses, and two-byte IDs, so that stray writes show.
        for (int control : {S120_L, S121_L, S122_L, S123_L, S130_L, ID_LEN}) {
            SetCtrlVal(panelHandle, control, control == ID_LEN ? 1 : 201);
        }
        ApplyControlRules();
        const std::map<int, int> expected = Snapshot(c.changed);
        // An older, longer text behind the terminating zero must not show through.
        std::memset(configText, 0, CONFIG_TEXT_SIZE);
        const std::size_t behind = c.text ? c.text->size() + 1 : 0;
        if (behind + 12 < CONFIG_TEXT_SIZE) {
            std::strcpy(configText + behind, "S111=77\r\n>");
        }
        std::vector<std::string> popups = {loadDialog_};
        if (!c.error.empty()) {
            popups.push_back("File Error|" + c.error + (dir_ / name).string() + c.reason);
        }
        EXPECT_EQ(Use(OPEN_FILE, name), popups);
        EXPECT_EQ(Snapshot(), expected);
    }
}

// The value the control offers at index pick, counted round.
int Pick(int control, unsigned pick) {
    int count = 0;
    if (GetNumListItems(panelHandle, control, &count) == 0) {
        return panel::ListItems(control)[pick % count].second;
    }
    return panel::Minimum(control) + pick % (panel::Maximum(control) - panel::Minimum(control) + 1);
}

// The records of a text in order with their values left out: "120." for a two-part one.
std::string Shape(const std::string& text) {
    const std::regex record(R"(S(\d{3})=\d{1,3}(?:(\.)\d{1,3})?\r\n)");
    return std::regex_replace(text, record, "$1$2 ");
}

// The layout of the text, and values that come back from a save and a load, pin how every
// record is written (the load's own reading is pinned by the records above).
TEST_F(SettingFiles, EverySeriesSavesItsLayoutAndLoadsBackWhatItCarries) {
    // The layouts A to E: the records in order, "." for a two-part one.
    const char* layouts[] = {
        "100 101 102 103 104 105 110 111 112 120. 121. 122. 123. 124 125 126 127 128 129 130. >",
        "100 101 102 103 104 105 110 111 112 120. 121 122 123 124 125 126 127 128 129 130 >",
        "100 101 102 103 104 105 110 111 112 113 120. 121 122 123 124 125 126 127 128 129 130 >",
        "100 101 102 103 104 110 111 112 120. 121. 122. 123. 124 125 126 127 128 129 130. >",
        "100 101 102 103 104 110 111 112 120. 121 122 123 124 125 126 127 128 129 130 >",
    };
    // By series T1a, T1b, T2a, T2b, M5, K8, R3: the layout for one-byte and two-byte IDs.
    const char* bySeries[] = {"BA", "BA", "BA", "BA", "ED", "ED", "CC"};
    std::mt19937 random(20240611);
    for (int series = 0; series < 7; ++series) {
        for (int idLength = 0; idLength < 2; ++idLength) {
            SCOPED_TRACE(testing::Message() << "series " << series << ", ID " << idLength);
            panel::Commit(PRODUCT, series);
            SetCtrlVal(panelHandle, ID_LEN, idLength);  // only a read or a load sets it
            std::vector<unsigned> picks;
            for (int control : registerControls) {
                picks.push_back(random());
                SetCtrlVal(panelHandle, control, Pick(control, picks.back()));
            }
            ApplyControlRules();  // the panel as the rules leave it is what a user can save
            std::map<int, int> expected = Snapshot();
            // Named without ".txt", with another extension or none, the file gets it.
            const std::string name = series % 2 ? "roundtrip" : "roundtrip.cfg";
            EXPECT_EQ(Use(SAVE_TO_FILE, name), std::vector<std::string>{saveDialog_});
            const std::string saved = ReadFile(dir_ / (name + ".txt"));
            EXPECT_EQ(saved, configText);
            EXPECT_EQ(Shape(saved), layouts[bySeries[series][idLength] - 'A']);

            // Every control to the next value it offers, and the other ID length.
            for (std::size_t i = 0; i < picks.size(); ++i) {
                SetCtrlVal(panelHandle, registerControls[i],
                           Pick(registerControls[i], picks[i] + 1));
            }
            SetCtrlVal(panelHandle, ID_LEN, 1 - idLength);
            ApplyControlRules();
            const std::map<int, int> before = Snapshot();
            EXPECT_EQ(Use(OPEN_FILE, name + ".txt"), std::vector<std::string>{loadDialog_});
            const std::map<int, int> loaded = Snapshot();

            // What the layout lacks stays as the panel had it; the R3's brings one-byte IDs
            // back. Low parts a one-byte layout lacks are not compared: the repeater rule
            // may copy one.
            if (series == 6) {
                expected[ID_LEN] = 0;
            } else {
                expected[S113] = before.at(S113);
            }
            if (series == 4 || series == 5) {
                expected[S105] = before.at(S105);
            }
            for (int control : {S121_L, S122_L, S123_L, S130_L}) {
                expected[control] = expected[ID_LEN] == 0 ? loaded.at(control) : expected[control];
            }
            EXPECT_EQ(loaded, expected);
        }
    }
}

// What the panel hides keeps what was there: the modulation outside the series that shows
// it, the low parts of the IDs while they are one byte long. The network ID has both parts.
TEST(Gathering, TakesOnlyWhatThePanelShows) {
    ASSERT_GE(LoadTestPanel(), 0);  // on series T1b
    parameters = ParameterSet{};
    parameters.s113 = 7;
    parameters.s121Low = parameters.s122Low = parameters.s123Low = parameters.s130Low = 99;
    SetCtrlVal(panelHandle, S113, 0);
    SetCtrlVal(panelHandle, S120_L, 1);
    SetCtrlVal(panelHandle, S121_L, 2);
    SetCtrlVal(panelHandle, S130_L, 3);
    GatherParameters();
    EXPECT_EQ(parameters.productIndex, ProductSeries::T1b);
    EXPECT_EQ(parameters.s113, 7);
    EXPECT_EQ(parameters.s120Low, 1);
    EXPECT_EQ(parameters.s121Low, 99);
    EXPECT_EQ(parameters.s130Low, 99);
    EXPECT_EQ(parameters.s130High, 100);

    SetCtrlVal(panelHandle, ID_LEN, 1);
    SetCtrlVal(panelHandle, PRODUCT, 6);
    GatherParameters();
    EXPECT_EQ(parameters.s113, 0);
    EXPECT_EQ(parameters.idLength, 1);
    EXPECT_EQ(parameters.s121Low, 2);
    EXPECT_EQ(parameters.s123Low, 127);
    EXPECT_EQ(parameters.s130Low, 3);
    DiscardTestPanel();
}

// The forms themselves are pinned by the bytes on the wire and the files on disk.
TEST(TextualForms, SetCommandsAndRecordsFitTheirBuffers) {
    char small[8];
    EXPECT_EQ(FormatSetCommand(small, sizeof small, 120, 192, 168), -1);
    EXPECT_EQ(small[sizeof small - 1], '\0');
    EXPECT_EQ(FormatRegisterRecord(small, sizeof small, 100, 50), 7);  // "S100=50" just fits
}

}  // namespace
