// A panel's window: its colours, its size and place on the screen, its icon, its close box,
// the keys its buttons answer and the colours of its open lists.
#include <QAbstractItemView>
#include <QBuffer>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QImageReader>
#include <QKeyEvent>
#include <QScreen>
#include <QScrollBar>
#include <QStyle>
#include <QVBoxLayout>
#include <algorithm>

#include "runtime/files/whole_files.h"
#include "runtime/ui/ui_internal.h"

namespace ui_runtime {

namespace {

// Every size the icon file holds. An icon is a few tens of kilobytes; one that cannot be
// read leaves the window without one, as a missing file does.
QIcon IconFromFile(const QString& path) {
    std::string bytes;
    QIcon icon;
    if (ReadWholeFile(QFile::encodeName(path).constData(), std::size_t{1} << 20, &bytes, nullptr) ==
        FILEIO_NO_ERROR) {
        QByteArray data = QByteArray::fromStdString(bytes);
        QBuffer buffer(&data);
        // Named by its suffix, the format's one plugin reads it; left to guess, the reader
        // loads every image plugin there is (SVG's library with its own) to ask each.
        const QByteArray format = QFileInfo(path).suffix().toLatin1();
        QImageReader reader(&buffer, format);
        reader.setAutoDetectImageFormat(format.isEmpty());
        // Each read takes the image the reader stands at: an .ico moves on only when told.
        for (QImage image; reader.read(&image);) {
            icon.addPixmap(QPixmap::fromImage(image));
            if (!reader.jumpToNextImage()) {
                break;
            }
        }
    }
    return icon;
}

}  // namespace

void PanelButton::keyPressEvent(QKeyEvent* event) {
    // The keypad's Enter comes with the keypad modifier.
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
        (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // A held key repeats; one press commits once.
        if (!event->isAutoRepeat()) {
            click();
        }
        event->accept();
        return;
    }
    QPushButton::keyPressEvent(event);
}

void PanelList::showPopup() {
    view()->setPalette(window()->palette());
    QComboBox::showPopup();
}

QPalette PanelPalette(const QColor& background, const QColor& dimmedText) {
    // Every role in every group is set, so that none is taken from the desktop's palette:
    // Qt fills a widget's unset roles from the application's palette, which follows the
    // theme. The light shades are those of Qt's own light palette, against which the
    // panel was drawn.
    const QColor black(0, 0, 0);
    const QColor white(255, 255, 255);
    const QColor button(239, 239, 239);
    QPalette palette(black, button, white, QColor(159, 159, 159), QColor(184, 184, 184), black,
                     white, white, background);
    const QPalette::ColorGroup groups[] = {QPalette::Active, QPalette::Inactive,
                                           QPalette::Disabled};
    for (const QPalette::ColorGroup group : groups) {
        palette.setColor(group, QPalette::Midlight, QColor(202, 202, 202));
        palette.setColor(group, QPalette::Shadow, QColor(118, 118, 118));
        palette.setColor(group, QPalette::AlternateBase, QColor(247, 247, 247));
        palette.setColor(group, QPalette::Highlight, QColor(48, 140, 198));
        palette.setColor(group, QPalette::HighlightedText, white);
        palette.setColor(group, QPalette::Link, QColor(0, 0, 255));
        palette.setColor(group, QPalette::LinkVisited, QColor(255, 0, 255));
        palette.setColor(group, QPalette::ToolTipBase, QColor(255, 255, 220));
        palette.setColor(group, QPalette::ToolTipText, black);
        palette.setColor(group, QPalette::PlaceholderText, QColor(0, 0, 0, 128));
        palette.setColor(group, QPalette::NoRole, black);
    }
    // A dimmed control must read as dimmed and still be readable: its text is a grey
    // darker than Qt's own, which nearly vanishes on the panel's background.
    for (const QPalette::ColorRole role :
         {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, dimmedText);
    }
    palette.setColor(QPalette::Disabled, QPalette::Base, button);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(145, 145, 145));
    return palette;
}

PanelWindow::PanelWindow(int handle) : handle_(handle), surface_(new QWidget(this)) {
    surface_->setAutoFillBackground(true);
    iconTimer_.setSingleShot(true);
    QObject::connect(&iconTimer_, &QTimer::timeout, this, [this] {
        setWindowIcon(IconFromFile(iconFile_));
        iconFile_.clear();
    });
}

void PanelWindow::scrollSurface() {
    if (scroller_ != nullptr) {
        return;
    }
    scroller_ = new QScrollArea(this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(scroller_);
    scroller_->setFrameShape(QFrame::NoFrame);
    scroller_->setWidgetResizable(false);
    scroller_->setWidget(surface_);
    // The scroll area is no stop of its own when the user tabs through the controls.
    scroller_->setFocusPolicy(Qt::NoFocus);
    // Made while the window may already show, when the window system's real frame turns
    // out to leave less room than was assumed.
    scroller_->show();
    surface_->show();
}

namespace {

// The frame the window system adds around a window. Known once the window is up and
// framed; until then a title bar and thin borders are assumed.
QMargins FrameMargins(const QWidget& window) {
    if (window.isVisible() && window.frameGeometry() != window.geometry()) {
        const QRect frame = window.frameGeometry();
        const QRect inside = window.geometry();
        return QMargins(inside.left() - frame.left(), inside.top() - frame.top(),
                        frame.right() - inside.right(), frame.bottom() - inside.bottom());
    }
    const int title = window.fontMetrics().height() * 2;
    return QMargins(4, title, 4, 4);
}

// Keeps one coordinate of the window's frame inside [low, high - length], preferring the
// wanted one; where the frame is longer than the room, it starts at low.
int Clamp(int wanted, int length, int low, int high) {
    return std::max(low, std::min(wanted, high - length));
}

}  // namespace

void PanelWindow::fitToScreen() {
    const QSize panel = surface_->size();
    QScreen* screen = QGuiApplication::screenAt(home_);
    if (screen == nullptr) {
        screen = QGuiApplication::primaryScreen();
    }
    if (screen == nullptr) {
        setFixedSize(panel);
        move(home_);
        return;
    }
    const QRect area = screen->availableGeometry();
    const QMargins frame = FrameMargins(*this);
    const QSize room = area.size().shrunkBy(frame);

    // A scroll bar along one edge takes room from the other direction.
    const int bar = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this);
    bool scrollDown = panel.height() > room.height();
    bool scrollAcross = panel.width() > room.width();
    scrollAcross = scrollAcross || (scrollDown && panel.width() + bar > room.width());
    scrollDown = scrollDown || (scrollAcross && panel.height() + bar > room.height());

    QSize size = panel;
    if (scrollDown || scrollAcross) {
        scrollSurface();
        size = QSize(std::min(panel.width() + (scrollDown ? bar : 0), room.width()),
                     std::min(panel.height() + (scrollAcross ? bar : 0), room.height()));
        // The user may make it smaller still, never larger than the panel with its bars.
        setMinimumSize(std::min(size.width(), 200), std::min(size.height(), 150));
        setMaximumSize(panel.width() + (scrollDown ? bar : 0),
                       panel.height() + (scrollAcross ? bar : 0));
        resize(size);
    } else {
        setFixedSize(panel);
    }
    // The panel's own place, unless the window would then reach past the screen's edge.
    const QSize outer = size.grownBy(frame);
    move(Clamp(home_.x(), outer.width(), area.left(), area.right() + 1),
         Clamp(home_.y(), outer.height(), area.top(), area.bottom() + 1));
}

void PanelWindow::fitOnceFrameKnown() {
    // The window system tells the size of its frame only once the window is up, some only
    // when their window manager has framed it; the first fit assumed a frame. Fit again,
    // once, with the real one.
    if (!frameKnown_ && isVisible() && frameGeometry() != geometry()) {
        frameKnown_ = true;
        fitToScreen();
    }
}

void PanelWindow::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    fitOnceFrameKnown();
}

void PanelWindow::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    fitOnceFrameKnown();
}

void PanelWindow::setIconFile(const QString& path) {
    if (iconFile_.isEmpty()) {
        surface_->installEventFilter(this);
    }
    iconFile_ = path;
}

bool PanelWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == surface_ && event->type() == QEvent::Paint && !iconFile_.isEmpty()) {
        surface_->removeEventFilter(this);
        // After this paint has reached the screen: Qt hands the painted window over once
        // every widget in it has painted.
        iconTimer_.start(0);
    }
    return QWidget::eventFilter(watched, event);
}

void PanelWindow::closeEvent(QCloseEvent* event) {
    // The window stays; closing it is the program's decision, taken in the callback of the
    // control the close box stands for, just as if the user had pressed that control.
    event->ignore();
    const Panel* panel = FindPanel(handle_);
    if (panel == nullptr || panel->closeControl < 0) {
        return;
    }
    const Control& control = panel->controls.at(panel->closeControl);
    if (control.visible && !control.dimmed) {
        CommitControl(handle_, panel->closeControl);
    }
}

}  // namespace ui_runtime
