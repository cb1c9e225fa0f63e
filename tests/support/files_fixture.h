// The setting files' tests: the real panel, a folder of their own, and the panel's register
// controls read the way the tests compare them.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "runtime/ui/ui_test_seam.h"
#include "runtime/ui/userint.h"
#include "tests/support/panel_fixture.h"
#include "window/panel/panel.h"
#include "window/panel/panel_ids.h"
#include "window/panel/register_controls.h"

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

inline std::string ProgramDir() {
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
        // The tests run from the build tree, beside the panel file: the save dialog offers
        // the program's own folder.
        saveDialog_ = "Name of File to Save in " + ProgramDir() + " *.txt only";
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
        return panel::Popups();
    }
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    fs::path dir_;
    std::string saveDialog_;
    const std::string loadDialog_ = "Name of File to Read in  *.txt only";
};
