// Saving the panel's registers to a file and loading them back, through the two buttons.
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "app/app.h"
#include "params/config_file.h"
#include "params/config_text.h"
#include "params/parameters.h"
#include "product/control_rules.h"
#include "product/product_series.h"
#include "runtime/ui_testing.h"
#include "runtime/userint.h"
#include "tests/support/panel_fixture.h"
#include "ui/panel_ids.h"

namespace {

namespace fs = std::filesystem;

const int registerControls[] = {S100,   S101,   S102,   S103,   S104,   S105,   S110,
                                S111,   S112,   S113,   S120_H, S120_L, S121_H, S121_L,
                                S122_H, S122_L, S123_H, S123_L, S124,   S125,   S126,
                                S127,   S128,   S129,   S130_H, S130_L, ID_LEN};

int Value(int control) {
    uint8_t value = 0;
    EXPECT_EQ(GetCtrlVal(panelHandle, control, &value), 0) << control;
    return value;
}

std::map<int, int> Snapshot() {
    std::map<int, int> values;
    for (int control : registerControls) {
        values[control] = Value(control);
    }
    return values;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary);
    out << bytes;
}

std::vector<std::string> FileNames(const fs::path& directory) {
    std::vector<std::string> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class SettingFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/zelk-files-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        directory_ = pattern;
        RegisterCallback("SelectProductCallBack", SelectProductCallBack);
        RegisterCallback("fskLora_selectCallBack", fskLora_selectCallBack);
        RegisterCallback("IdLenCallBack", IdLenCallBack);
        RegisterCallback("SetModeCallBack", SetModeCallBack);
        RegisterCallback("S126CallBack", S126CallBack);
        RegisterCallback("S128CallBack", S128CallBack);
        RegisterCallback("S129CallBack", S129CallBack);
        RegisterCallback("SaveToFileCallBack", SaveToFileCallBack);
        RegisterCallback("OpenFileBack", OpenFileBack);
        ASSERT_GE(LoadTestPanel(), 0);
        ApplyControlRules();
    }
    void TearDown() override {
        DiscardTestPanel();
        ui_testing::TakePopups();
        ui_testing::Disable();
        fs::remove_all(directory_);
    }

    void SelectSeries(int productIndex, int idLength) {
        ASSERT_EQ(ui_testing::UserSetValue(panelHandle, PRODUCT, productIndex), 0);
        // The ID length is not the user's to change; only a read or a load sets it.
        SetCtrlVal(panelHandle, ID_LEN, idLength);
        ApplyControlRules();
    }

    void Save(const fs::path& path) {
        ui_testing::AnswerNextFileSelect(path.string());
        ASSERT_EQ(ui_testing::UserPress(panelHandle, SAVE_TO_FILE), 0);
    }
    void Load(const fs::path& path) {
        ui_testing::AnswerNextFileSelect(path.string());
        ASSERT_EQ(ui_testing::UserPress(panelHandle, OPEN_FILE), 0);
    }
    // The message popups shown since the last call; the file dialogs are left out.
    std::vector<std::string> MessageTitles() {
        std::vector<std::string> titles;
        for (const ui_testing::Popup& popup : ui_testing::TakePopups()) {
            if (popup.kind == ui_testing::PopupKind::Message) {
                titles.push_back(popup.title);
            }
        }
        return titles;
    }

    fs::path directory_;
};

int CountOf(const std::string& text, const std::string& part) {
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

TEST_F(SettingFiles, SavesTheTextOfThePanelAndNothingElse) {
    // The layouts themselves are pinned where the text is made; here: one per layout, the
    // file holds exactly the text, without its terminating zero.
    struct LayoutCase {
        int productIndex;
        int idLength;
        int lines;
    };
    for (LayoutCase c : {LayoutCase{2, 1, 20}, LayoutCase{1, 0, 20}, LayoutCase{6, 1, 21},
                         LayoutCase{4, 1, 19}, LayoutCase{5, 0, 19}}) {
        SCOPED_TRACE(testing::Message()
                     << "series " << c.productIndex << ", ID length " << c.idLength);
        SelectSeries(c.productIndex, c.idLength);
        SetCtrlVal(panelHandle, S111, 7);
        fs::path path = directory_ / "settings.txt";
        Save(path);

        std::string bytes = ReadFile(path);
        EXPECT_EQ(bytes, std::string(configText));
        EXPECT_EQ(CountOf(bytes, "\r\n"), c.lines);
        EXPECT_EQ(bytes.back(), '>');
        EXPECT_NE(bytes.find("S111=7\r\n"), std::string::npos);

        std::vector<ui_testing::Popup> popups = ui_testing::TakePopups();
        ASSERT_EQ(popups.size(), 1u);
        EXPECT_EQ(popups[0].kind, ui_testing::PopupKind::FileSelect);
        EXPECT_EQ(popups[0].title, "Name of File to Save");
        EXPECT_EQ(popups[0].defaultDirectory, std::string(projectDir));
        EXPECT_EQ(popups[0].defaultFileSpec, "*.txt");
        EXPECT_TRUE(popups[0].restrictExtension);
        EXPECT_TRUE(popups[0].allowCancel);
    }
}

TEST_F(SettingFiles, AFileOfTheR3ComesBackWithOneByteIds) {
    SelectSeries(6, 1);
    SetCtrlVal(panelHandle, S121_H, 33);
    SetCtrlVal(panelHandle, S121_L, 44);
    fs::path path = directory_ / "r3.txt";
    Save(path);
    SetCtrlVal(panelHandle, S121_H, 1);
    SetCtrlVal(panelHandle, S121_L, 2);

    Load(path);

    EXPECT_EQ(Value(ID_LEN), 0);
    EXPECT_EQ(Value(S121_H), 33);
    EXPECT_EQ(Value(S121_L), 2);  // never in the file
    int visible = -1;
    GetCtrlAttribute(panelHandle, S121_L, ATTR_VISIBLE, &visible);
    EXPECT_EQ(visible, 0);
    EXPECT_TRUE(MessageTitles().empty());
}

TEST_F(SettingFiles, AFileOfTheK8LeavesTheCharacterFormatAlone) {
    SelectSeries(5, 0);
    SetCtrlVal(panelHandle, S105, 2);
    SetCtrlVal(panelHandle, S111, 9);
    fs::path path = directory_ / "k8.txt";
    Save(path);

    SelectSeries(0, 0);
    SetCtrlVal(panelHandle, S105, 3);
    SetCtrlVal(panelHandle, S111, 1);
    Load(path);

    EXPECT_EQ(Value(S105), 3);
    EXPECT_EQ(Value(S111), 9);
    EXPECT_EQ(Value(PRODUCT), 0);
}

TEST_F(SettingFiles, CancellingTheSaveWritesNothingButTheTextIsMade) {
    SelectSeries(2, 1);
    SetCtrlVal(panelHandle, S111, 42);
    std::memset(configText, 0, CONFIG_TEXT_SIZE);
    ui_testing::CancelNextFileSelect();
    ASSERT_EQ(ui_testing::UserPress(panelHandle, SAVE_TO_FILE), 0);

    EXPECT_TRUE(FileNames(directory_).empty());
    std::string text = configText;
    EXPECT_EQ(text.substr(0, 5), "S100=");
    EXPECT_NE(text.find("S111=42\r\n"), std::string::npos);
    EXPECT_EQ(text.back(), '>');
    EXPECT_TRUE(MessageTitles().empty());
}

TEST_F(SettingFiles, CancellingTheLoadChangesNothing) {
    const std::map<int, int> before = Snapshot();
    ui_testing::CancelNextFileSelect();
    ASSERT_EQ(ui_testing::UserPress(panelHandle, OPEN_FILE), 0);
    EXPECT_EQ(Snapshot(), before);

    std::vector<ui_testing::Popup> popups = ui_testing::TakePopups();
    ASSERT_EQ(popups.size(), 1u);
    EXPECT_EQ(popups[0].title, "Name of File to Read");
    EXPECT_EQ(popups[0].defaultDirectory, "");
    EXPECT_EQ(popups[0].defaultFileSpec, "*.txt");
    EXPECT_TRUE(popups[0].restrictExtension);
}

// A file size limit makes the write itself fail, the way a full disk does; the limit holds
// for root as well, so the test does not depend on who runs it.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &saved_);
        previousHandler_ = signal(SIGXFSZ, SIG_IGN);
        rlimit limit = saved_;
        limit.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &saved_);
        signal(SIGXFSZ, previousHandler_);
    }

  private:
    rlimit saved_{};
    void (*previousHandler_)(int);
};

TEST_F(SettingFiles, AFailedSaveKeepsTheOldFileAndSaysSo) {
    fs::path path = directory_ / "settings.txt";
    const std::string old = "S111=5\r\n>";
    WriteFile(path, old);
    {
        FileSizeLimit limit(16);
        Save(path);
    }
    EXPECT_EQ(ReadFile(path), old);
    EXPECT_EQ(FileNames(directory_), std::vector<std::string>{"settings.txt"});
    std::vector<ui_testing::Popup> popups = ui_testing::TakePopups();
    ASSERT_EQ(popups.size(), 2u);
    EXPECT_EQ(popups[1].kind, ui_testing::PopupKind::Message);
    EXPECT_EQ(popups[1].title, "File Error");
    // The user learns which file and why.
    EXPECT_NE(popups[1].message.find(path.string()), std::string::npos);
    EXPECT_NE(popups[1].message.find("File too large"), std::string::npos);
}

TEST_F(SettingFiles, ASaveIntoAMissingDirectorySaysSo) {
    Save(directory_ / "missing" / "settings.txt");
    EXPECT_FALSE(fs::exists(directory_ / "missing"));
    EXPECT_EQ(MessageTitles(), std::vector<std::string>{"File Error"});
}

TEST_F(SettingFiles, ANameWithoutExtensionGetsTxt) {
    SetCtrlVal(panelHandle, S111, 12);
    Save(directory_ / "mysettings");
    EXPECT_EQ(FileNames(directory_), std::vector<std::string>{"mysettings.txt"});

    SetCtrlVal(panelHandle, S111, 3);
    Load(directory_ / "mysettings");
    EXPECT_EQ(Value(S111), 12);
    EXPECT_TRUE(MessageTitles().empty());
}

TEST_F(SettingFiles, FilesThatCannotBeLoadedAreRefusedAndChangeNothing) {
    // Records that would change the panel if any of them were taken.
    std::string records;
    while (records.size() <= CONFIG_TEXT_SIZE) {
        records += "S111=9\r\nS121=1.2\r\n";
    }
    fs::create_directory(directory_ / "folder.txt");
    ASSERT_EQ(mkfifo((directory_ / "pipe.txt").c_str(), 0600), 0);
    WriteFile(directory_ / "large.txt", records.substr(0, CONFIG_TEXT_SIZE));

    struct RefusedCase {
        const char* name;
        fs::path path;
    };
    const RefusedCase cases[] = {
        {"a missing file", directory_ / "gone.txt"},
        {"a directory", directory_ / "folder.txt"},
        {"a pipe", directory_ / "pipe.txt"},
        {"one byte more than the text holds", directory_ / "large.txt"},
    };
    const std::string earlier = "S100=60\r\n>";
    for (const RefusedCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::memcpy(configText, earlier.c_str(), earlier.size() + 1);
        const std::map<int, int> before = Snapshot();
        Load(c.path);
        EXPECT_EQ(Snapshot(), before);
        EXPECT_EQ(std::string(configText), earlier);
        EXPECT_EQ(MessageTitles(), std::vector<std::string>{"File Error"});
    }
}

TEST_F(SettingFiles, OddFilesLoadHarmlessly) {
    std::string records;
    while (records.size() < CONFIG_TEXT_SIZE) {
        records += "S125=9\r\n";
    }
    std::string binary;
    for (int i = 1; i < 256; ++i) {
        binary.push_back(static_cast<char>(i));
    }
    binary += std::string(1, '\0') + "S111=9\r\n";

    struct OddCase {
        const char* name;
        std::string bytes;
        std::map<int, int> changed;
    };
    const OddCase cases[] = {
        {"an empty file", "", {}},
        {"bytes of every value, a zero among them", binary, {}},
        {"exactly as much as the text holds", records.substr(0, CONFIG_TEXT_SIZE - 1), {{S125, 9}}},
        {"records without the end marker", "S111=9\r\nS125=8\r\n", {{S111, 9}, {S125, 8}}},
    };
    for (const OddCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::path path = directory_ / "odd.txt";
        WriteFile(path, c.bytes);
        SetCtrlVal(panelHandle, S111, 1);
        SetCtrlVal(panelHandle, S125, 1);
        std::map<int, int> expected = Snapshot();
        for (const auto& [control, value] : c.changed) {
            expected[control] = value;
        }
        Load(path);
        EXPECT_EQ(Snapshot(), expected);
        EXPECT_TRUE(MessageTitles().empty());
    }
}

// Round trip: whatever the panel holds goes into the file and comes back.

bool IsList(int control) {
    int count = 0;
    return GetNumListItems(panelHandle, control, &count) == 0;
}

// Every value the control offers, in order.
std::vector<int> Offered(int control) {
    std::vector<int> values;
    if (IsList(control)) {
        int count = 0;
        GetNumListItems(panelHandle, control, &count);
        for (int index = 0; index < count; ++index) {
            char label[64];
            int value = 0;
            GetListItem(panelHandle, control, index, label, sizeof label, &value);
            values.push_back(value);
        }
    } else {
        int minimum = 0;
        int maximum = 0;
        GetCtrlAttribute(panelHandle, control, ATTR_MIN_VALUE, &minimum);
        GetCtrlAttribute(panelHandle, control, ATTR_MAX_VALUE, &maximum);
        for (int value = minimum; value <= maximum; ++value) {
            values.push_back(value);
        }
    }
    return values;
}

const int savedControls[] = {S100, S101,   S102,   S103,   S104,   S105,   S110,   S111,   S112,
                             S113, S120_H, S120_L, S121_H, S121_L, S122_H, S122_L, S123_H, S123_L,
                             S124, S125,   S126,   S127,   S128,   S129,   S130_H, S130_L};

// The record as text, so that a difference shows by name.
std::string Describe(const ParameterSet& p) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "series %d, ID length %d, S100 %d, S101 %d, S102 %d, S103 %d, S104 %d, "
                  "S105 %d, S110 %d, S111 %d, S112 %d, S113 %d, S120 %d.%d, S121 %d.%d, "
                  "S122 %d.%d, S123 %d.%d, S124 %d, S125 %d, S126 %d, S127 %d, S128 %d, "
                  "S129 %d, S130 %d.%d",
                  p.productIndex, p.idLength, p.s100, p.s101, p.s102, p.s103, p.s104, p.s105,
                  p.s110, p.s111, p.s112, p.s113, p.s120High, p.s120Low, p.s121High, p.s121Low,
                  p.s122High, p.s122Low, p.s123High, p.s123Low, p.s124, p.s125, p.s126, p.s127,
                  p.s128, p.s129, p.s130High, p.s130Low);
    return text;
}

TEST_F(SettingFiles, EverySeriesRoundTripsWhatItsLayoutCarries) {
    std::mt19937 random(20240611);
    for (int productIndex = 0; productIndex <= 6; ++productIndex) {
        for (int idLength = 0; idLength <= 1; ++idLength) {
            SCOPED_TRACE(testing::Message()
                         << "series " << productIndex << ", ID length " << idLength);
            SelectSeries(productIndex, idLength);
            for (int control : savedControls) {
                std::vector<int> values = Offered(control);
                SetCtrlVal(panelHandle, control, values[random() % values.size()]);
            }
            // The panel as the rules leave it is what a user can save.
            ApplyControlRules();
            GatherParameters();
            const ParameterSet saved = parameters;
            fs::path path = directory_ / "roundtrip.txt";
            Save(path);

            // Every control to another value it offers.
            for (int control : savedControls) {
                std::vector<int> values = Offered(control);
                auto at = std::find(values.begin(), values.end(), Value(control));
                std::size_t next = at == values.end() ? 0 : (at - values.begin() + 1);
                SetCtrlVal(panelHandle, control, values[next % values.size()]);
            }
            SetCtrlVal(panelHandle, ID_LEN, 1 - idLength);
            ApplyControlRules();

            Load(path);
            GatherParameters();
            const ParameterSet loaded = parameters;
            EXPECT_TRUE(MessageTitles().empty());

            // What the layout cannot carry is whatever the panel held before the load.
            ParameterSet expected = saved;
            if (productIndex == 6) {
                expected.idLength = 0;
            } else {
                expected.s113 = loaded.s113;
            }
            if (productIndex == 4 || productIndex == 5) {
                expected.s105 = loaded.s105;
            }
            if (expected.idLength == 0) {
                expected.s121Low = loaded.s121Low;
                expected.s122Low = loaded.s122Low;
                expected.s123Low = loaded.s123Low;
                expected.s130Low = loaded.s130Low;
            }
            EXPECT_EQ(Describe(loaded), Describe(expected));
        }
    }
}

}  // namespace
