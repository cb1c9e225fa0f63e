// The panel's window as a user meets it: on a laptop screen too small for it and on one
// with room, under a dark desktop palette and the default one, and from the keyboard.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QApplication>
#include <QFile>
#include <QImage>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cmath>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "runtime/ui/ui_test_seam.h"
#include "runtime/ui/userint.h"
#include "tests/support/panel_fixture.h"
#include "ui/panel.h"
#include "ui/panel_ids.h"

namespace {

std::vector<int> calls;

int Record(int, int control, int, void*, int, int) {
    calls.push_back(control);
    return 0;
}

// A desktop of two screens side by side, both scaled by 1.25 as laptops often are: a
// 1366 x 768 one, which leaves less room than the panel needs, and a 1920 x 1080 one.
// The window system draws a frame around each window.
void StartOnTwoScreens() {
    static bool started = false;
    if (started) {
        return;
    }
    static QTemporaryDir directory;
    const std::string config = directory.filePath("screens.json").toStdString();
    std::ofstream(config) << R"({"windowFrameMargins": true, "screens": [
        {"name": "laptop", "x": 0, "y": 0, "width": 1366, "height": 768},
        {"name": "monitor", "x": 1366, "y": 0, "width": 1920, "height": 1080}]})";
    setenv("QT_QPA_PLATFORM", ("offscreen:configfile=" + config).c_str(), 1);
    setenv("QT_SCALE_FACTOR", "1.25", 1);
    static char name[] = "test_window";
    static char* arguments[] = {name, nullptr};
    ASSERT_NE(InitUserInterface(1, arguments), 0);
    started = true;
}

class Window : public ::testing::Test {
  protected:
    void SetUp() override {
        StartOnTwoScreens();
        ui_testing::Enable();
        for (const char* callback : {"PortConnCallBack", "ReadCallBack", "QuitCallBack"}) {
            RegisterCallback(callback, Record);
        }
        ui_testing::AllowUnboundCallbacks(true);
        Load("ZelkConfig_en.uir");
        calls.clear();
    }
    void TearDown() override {
        DiscardTestPanel();
        ui_testing::AllowUnboundCallbacks(false);
    }
    void Load(const std::string& file) {
        DiscardTestPanel();
        panelHandle = LoadPanel(0, file.c_str(), PANEL);
        ASSERT_GE(panelHandle, 0) << GetPanelLoadError();
    }
    // Widgets are named after their control's constant.
    QWidget* Widget(const char* constant) {
        for (QWidget* window : QApplication::topLevelWidgets()) {
            if (auto* found = window->findChild<QWidget*>(QLatin1String(constant))) {
                return found;
            }
        }
        ADD_FAILURE() << "no widget " << constant;
        return nullptr;
    }
};

// Every control a user sees on the panel: not hidden, not a decoration, not one of those
// that lie below the panel's edge.
std::vector<int> ShownControls() {
    std::vector<int> shown;
    for (int control = PANEL + 1; control <= LED; ++control) {
        const ui_testing::ControlView view = ui_testing::InspectControl(panelHandle, control);
        if (view.found && panel::Visible(control) && view.constant.rfind("DECORATION", 0) &&
            view.body.bottom <= view.panelHeight) {
            shown.push_back(control);
        }
    }
    return shown;
}

bool Inside(const ui_testing::Rect& inner, const ui_testing::Rect& outer) {
    return inner.top >= outer.top && inner.left >= outer.left && inner.bottom <= outer.bottom &&
           inner.right <= outer.right;
}

bool WhollyShown(const ui_testing::ControlView& view) {
    return view.shown.bottom - view.shown.top == view.body.bottom - view.body.top &&
           view.shown.right - view.shown.left == view.body.right - view.body.left &&
           Inside(view.shown, view.screen);
}

TEST_F(Window, OnAScreenTooSmallItScrollsAndEveryControlCanBeBroughtIntoView) {
    ASSERT_EQ(DisplayPanel(panelHandle), 0);
    ProcessSystemEvents();
    const ui_testing::ControlView first = ui_testing::InspectControl(panelHandle, QUIT);
    EXPECT_TRUE(Inside(first.frame, first.screen));
    EXPECT_LT(first.window.bottom - first.window.top, 659);  // 768 / 1.25 is less
    // As large as the screen allows: the frame reaches the bottom of the screen.
    EXPECT_EQ(first.frame.bottom, first.screen.bottom);

    const std::vector<int> controls = ShownControls();
    ASSERT_GT(controls.size(), 30u);
    for (const int control : controls) {
        const int scrolled = ui_testing::UserScrollTo(panelHandle, control);
        if (scrolled == UIE_NOT_OPERABLE) {
            continue;  // dimmed: seen but out of reach, wherever it is
        }
        ASSERT_EQ(scrolled, 0) << control;
        const ui_testing::ControlView view = ui_testing::InspectControl(panelHandle, control);
        EXPECT_TRUE(WhollyShown(view)) << view.constant;
    }
}

TEST_F(Window, OnAScreenWithRoomItIsThePanelItselfAtItsPlace) {
    // The same panel, placed on the larger screen.
    const QScreen* monitor = nullptr;
    for (const QScreen* screen : QGuiApplication::screens()) {
        monitor = screen->name() == QLatin1String("monitor") ? screen : monitor;
    }
    ASSERT_NE(monitor, nullptr);
    QFile original(QStringLiteral("ZelkConfig_en.uir"));
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const int left = monitor->geometry().left() + 45;
    QTemporaryDir directory;
    QFile moved(directory.filePath(QStringLiteral("panel.uir")));
    ASSERT_TRUE(moved.open(QIODevice::WriteOnly));
    moved.write(
        original.readAll().replace("\"left\": 45,", "\"left\": " + QByteArray::number(left) + ","));
    moved.close();
    Load(moved.fileName().toStdString());

    ASSERT_EQ(DisplayPanel(panelHandle), 0);
    ProcessSystemEvents();
    const ui_testing::ControlView view = ui_testing::InspectControl(panelHandle, QUIT);
    EXPECT_EQ(view.frame.left, left);
    EXPECT_EQ(view.frame.top, 42);
    EXPECT_EQ(view.window.right - view.window.left, 980);
    EXPECT_EQ(view.window.bottom - view.window.top, 659);
    for (const int control : ShownControls()) {
        EXPECT_TRUE(WhollyShown(ui_testing::InspectControl(panelHandle, control))) << control;
    }
}

// The contrast ratio of two colours from their relative luminance, as the accessibility
// guidelines define them.
double Contrast(QRgb a, QRgb b) {
    auto luminance = [](QRgb colour) {
        auto channel = [](int value) {
            const double c = value / 255.0;
            return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(qRed(colour)) + 0.7152 * channel(qGreen(colour)) +
               0.0722 * channel(qBlue(colour));
    };
    return (std::max(luminance(a), luminance(b)) + 0.05) /
           (std::min(luminance(a), luminance(b)) + 0.05);
}

// The contrast of the text in an area of the panel: the colour most of its pixels have is
// the background, and the pixel furthest from it belongs to the text. The area's edge is
// left out, where a field's frame is drawn.
double TextContrast(const QImage& image, const ui_testing::Rect& area) {
    std::map<QRgb, int> counts;
    for (int y = area.top + 3; y < area.bottom - 3; ++y) {
        for (int x = area.left + 3; x < area.right - 3; ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    const QRgb background =
        std::max_element(counts.begin(), counts.end(), [](const auto& a, const auto& b) {
            return a.second < b.second;
        })->first;
    double most = 1.0;
    for (const auto& [colour, count] : counts) {
        most = std::max(most, Contrast(colour, background));
    }
    return most;
}

// What a user reads on the panel: labels, fields, buttons and texts, some of them dimmed.
struct Reading {
    int control;
    bool dimmed;
};
const Reading kReadings[] = {
    {.control = S100, .dimmed = false},      {.control = S102, .dimmed = false},
    {.control = PORT_CONN, .dimmed = false}, {.control = READ, .dimmed = false},
    {.control = TEXTMSG_4, .dimmed = false}, {.control = S103, .dimmed = true},
    {.control = S121_H, .dimmed = true},     {.control = S126, .dimmed = true},
    {.control = UPDATE, .dimmed = true},
};

// The contrast of each label and body in kReadings, as the panel draws them now.
std::map<std::string, double> ContrastFigures(QWidget* surface) {
    for (const Reading& reading : kReadings) {
        SetCtrlAttribute(panelHandle, reading.control, ATTR_DIMMED, reading.dimmed ? 1 : 0);
    }
    QImage image(surface->size(), QImage::Format_RGB32);
    surface->render(&image);
    std::map<std::string, double> figures;
    for (const Reading& reading : kReadings) {
        const ui_testing::ControlView view =
            ui_testing::InspectControl(panelHandle, reading.control);
        const std::string state = reading.dimmed ? " dimmed" : "";
        figures[view.constant + " body" + state] = TextContrast(image, view.body);
        if (!view.label.empty()) {
            figures[view.constant + " label" + state] = TextContrast(image, view.label);
        }
    }
    return figures;
}

TEST_F(Window, ReadsTheSameUnderADarkDesktopPaletteAsUnderTheDefaultOne) {
    const QPalette standard = QApplication::palette();
    const std::map<std::string, double> light = ContrastFigures(Widget("S100")->parentWidget());

    // A dark theme: white text on dark grey, black fields, as Qt derives it from the grey.
    const QPalette dark(QColor(53, 53, 53));
    QApplication::setPalette(dark);
    // Both a panel that was up when the theme changed and one loaded under it.
    const std::map<std::string, double> switched = ContrastFigures(Widget("S100")->parentWidget());
    Load("ZelkConfig_en.uir");
    const std::map<std::string, double> loaded = ContrastFigures(Widget("S100")->parentWidget());
    QApplication::setPalette(standard);

    double faintest = 21.0;
    for (const auto& [name, figure] : light) {
        EXPECT_NEAR(switched.at(name), figure, 0.01) << name;
        EXPECT_NEAR(loaded.at(name), figure, 0.01) << name;
        if (name.find("dimmed") == std::string::npos) {
            faintest = std::min(faintest, figure);
        }
    }
    EXPECT_GE(faintest, 7.0);
    for (const auto& [name, figure] : light) {
        if (name.find("dimmed") != std::string::npos) {
            // Readable, and plainly fainter than anything a user can operate.
            EXPECT_GE(figure, 3.0) << name;
            EXPECT_LT(figure, faintest / 2) << name;
        }
    }
}

TEST_F(Window, ButtonsAnswerEnterAndSpaceAndCtrlQActsAsExit) {
    ASSERT_EQ(DisplayPanel(panelHandle), 0);
    QWidget* window = Widget("QUIT")->window();
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));

    QWidget* read = Widget("READ");
    read->setFocus();
    QTest::keyClick(read, Qt::Key_Return);
    QTest::keyClick(read, Qt::Key_Enter, Qt::KeypadModifier);
    QTest::keyClick(read, Qt::Key_Space);
    Widget("PORT_CONN")->setFocus();
    QTest::keyClick(Widget("PORT_CONN"), Qt::Key_Return);
    EXPECT_EQ(panel::Value(PORT_CONN), 1);
    // From anywhere in the window, a field included; not while EXIT is hidden or dimmed.
    QTest::keyClick(Widget("S100"), Qt::Key_Q, Qt::ControlModifier);
    for (const int attribute : {ATTR_VISIBLE, ATTR_DIMMED}) {
        SetCtrlAttribute(panelHandle, QUIT, attribute, attribute == ATTR_DIMMED);
        QTest::keyClick(Widget("S100"), Qt::Key_Q, Qt::ControlModifier);
        SetCtrlAttribute(panelHandle, QUIT, attribute, attribute == ATTR_VISIBLE);
    }
    EXPECT_EQ(calls, (std::vector<int>{READ, READ, READ, PORT_CONN, QUIT}));
}

TEST_F(Window, CarriesTheProgramsIconDownToItsSmallestSize) {
    const QIcon icon = Widget("QUIT")->window()->windowIcon();
    EXPECT_TRUE(icon.availableSizes().contains(QSize(16, 16)));
    EXPECT_TRUE(icon.availableSizes().contains(QSize(256, 256)));
}

}  // namespace
