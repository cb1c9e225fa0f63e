// The real main panel for a test, read the way the tests compare it; the program as it
// starts; the setting-file tests' folder; the link tests' simulated module on COM1.
#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "core/link/connection.h"
#include "runtime/ui/panel_controls.h"
#include "runtime/ui/ui_test_seam.h"
#include "tests/support/simulated_module.h"
#include "window/link/link_panel.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"
#include "window/panel/register_controls.h"

// Loads PANEL beside the test binary, every callback bound and popups answered by the test
// seam, into panelHandle; negative when loading failed.
int LoadTestPanel();
void DiscardTestPanel();

// The program as it starts (StartZelkConfig), with popups answered by the test seam; each
// test leaves it disconnected and without a panel.
class StartedProgram : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

namespace panel {

// The control's value, whatever its data type.
int Value(int control);
int Dimmed(int control);
int Visible(int control);
int Minimum(int control);
int Maximum(int control);

using Items = std::vector<std::pair<std::string, int>>;
Items ListItems(int control);

// Operates the control as a user does (one commit) and fails the test when it cannot.
void Commit(int control, int value);
void Press(int control);

// The popups shown since the last call: messages as "title|message", or
// "title|message||details" when the message has details beside it; file dialogs as their
// title, default directory and file specification ("... only" when restricted to it).
std::vector<std::string> Popups();

}  // namespace panel

namespace fs = std::filesystem;

// Every register control of the panel, high parts and low parts.
inline const std::vector<int> registerControls = [] {
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
inline std::map<int, int> Snapshot(std::map<int, int> values = {}) {
    for (int control : registerControls) {
        values.emplace(control, panel::Value(control));
    }
    for (int control : {S115, S116, ID_LEN}) {
        values.emplace(control, panel::Value(control));
    }
    return values;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A path as the program shows it: with the system's own separators.
inline std::string Native(const std::string& path) {
    return QDir::toNativeSeparators(QString::fromStdString(path)).toStdString();
}

// A named pipe, and a link to a device that never ends: files a read must refuse rather than
// wait on. False where the system has neither (Windows), and the test goes without.
bool MakePipe(const fs::path& path);
bool MakeEndlessFile(const fs::path& path);

inline std::string ProgramDir() {
    char directory[MAX_PATHNAME_LEN] = {};
    GetProjectDir(directory);
    return directory;
}

class SettingFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(folder_.isValid());
        dir_ = fs::path(QDir::toNativeSeparators(folder_.path()).toStdString());
        ASSERT_GE(LoadTestPanel(), 0);
        // The tests run from the build tree, beside the panel file: the save dialog offers
        // the program's own folder.
        saveDialog_ = "Name of File to Save in " + ProgramDir() + " *.txt only";
    }
    void TearDown() override { DiscardTestPanel(); }
    // Presses the button and answers its file dialog with the name, or cancels it.
    std::vector<std::string> Use(int button, const std::string& name) {
        if (name.empty()) {
            ui_testing::CancelNextFileSelect();
        } else {
            ui_testing::AnswerNextFileSelect((dir_ / name).string());
        }
        panel::Press(button);
        return panel::Popups();
    }
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    QTemporaryDir folder_;
    fs::path dir_;
    std::string saveDialog_;
    const std::string loadDialog_ = "Name of File to Read in  *.txt only";
};

namespace link_test {

using Texts = std::vector<std::string>;
const std::string kCommandError = "Command Error| Communication Error! Please Re-try ";
const std::string kDone = "Command Ok| Done! The Updating is successfull!";

using panel::Popups;

// Also the clock the program waits on: the module's, and the busy cursor must be up at every
// wait of an exchange.
class LinkTest : public ::testing::Test, public timing::Clock {
  protected:
    void SetUp() override {
        connection = ConnectionState{0, false, 9600, 0};
        ASSERT_GE(LoadTestPanel(), 0);
    }
    void TearDown() override {
        Detach();
        ui_testing::TakePopups();
        DiscardTestPanel();
    }
    // Closes the port the program left open, then removes the module.
    void Detach() {
        EXPECT_EQ(QGuiApplication::overrideCursor(), nullptr);  // no exchange leaves it busy
        if (connection.connected) {
            CloseCom(connection.comPort);
            connection.connected = false;
            SetCtrlVal(panelHandle, PORT_CONN, 0);
        }
        module_.reset();
    }
    // A new module with these options as COM1, and the panel showing this series.
    sim::SimulatedModule& Attach(const ModuleOptions& options = {}, int productIndex = 1) {
        Detach();
        module_ = std::make_unique<sim::SimulatedModule>(options, 1);
        timing::SetClock(this);
        SetCtrlVal(panelHandle, PRODUCT, productIndex);
        return *module_;
    }
    // Connects with the button, then forgets the traffic so far.
    void Connect() {
        panel::Commit(PORT_CONN, 1);
        ASSERT_TRUE(connection.connected);
        ASSERT_TRUE(Popups().empty());
        module_->clearWire();
    }
    sim::SimulatedModule& module() { return *module_; }
    double now() override { return module_->clock().now(); }
    void waitUntil(double when) override {
        EXPECT_NE(QGuiApplication::overrideCursor(), nullptr) << "waiting without the busy cursor";
        module_->clock().waitUntil(when);
    }

  private:
    std::unique_ptr<sim::SimulatedModule> module_;
};

}  // namespace link_test
