// Builds a panel's window and controls from its definition, which panel_definition.cpp
// reads. Every control has "constant", "id", "kind" and "rect" ([top, left, bottom, right]
// of its body in panel pixels); the other fields depend on the kind. One builder per kind makes
// the widget; the kind switch sits in BuildBody alone. The window's icon file lies beside
// the panel file.
#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHash>
#include <QPainter>
#include <QPushButton>
#include <QRadialGradient>
#include <QShortcut>
#include <QSpinBox>
#include <climits>
#include <cmath>
#include <set>

#include "runtime/ui/panel_definition_internal.h"

namespace ui_runtime {

LedLamp::LedLamp(const QColor& onColor, const QColor& offColor, QWidget* parent)
    : QWidget(parent), onColor_(onColor), offColor_(offColor) {}

void LedLamp::setOn(bool on) {
    on_ = on;
    update();
}

void LedLamp::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const int side = std::min(width(), height()) - 4;
    const QRectF lamp((width() - side) / 2.0, (height() - side) / 2.0, side, side);
    QColor color = on_ ? onColor_ : offColor_;
    if (!isEnabled()) {
        color = color.darker(130);
    }
    // A highlight off the centre makes the lamp read as a rounded bulb, lit or not.
    QRadialGradient gradient(lamp.center() - QPointF(side / 6.0, side / 6.0), side / 1.6);
    gradient.setColorAt(0, color.lighter(on_ ? 170 : 130));
    gradient.setColorAt(1, color);
    painter.setBrush(gradient);
    painter.setPen(QPen(QColor(70, 70, 70), 1.2));
    painter.drawEllipse(lamp);
}

namespace {

void CheckFits(const Definition& definition, const Control& control, long long value,
               const char* what) {
    if (value < DataTypeMinimum(control.dataType) || value > DataTypeMaximum(control.dataType)) {
        Fail(QStringLiteral("%1: %2 %3 does not fit the data type")
                 .arg(definition.where(), QLatin1String(what))
                 .arg(value));
    }
}

// Accessible names are read aloud, so a line break in a face or label becomes a space.
QString Spoken(QString text) {
    return text.replace(QLatin1Char('\n'), QLatin1Char(' ')).trimmed();
}

QWidget* BuildNumeric(const Definition& definition, Control& control, Panel& panel) {
    const long long minimum = definition.integer("min");
    const long long maximum = definition.integer("max");
    const long long value = definition.integer("value");
    CheckFits(definition, control, minimum, "minimum");
    CheckFits(definition, control, maximum, "maximum");
    if (minimum > maximum || minimum < INT_MIN || maximum > INT_MAX) {
        Fail(QStringLiteral("%1: the range %2 to %3 is not usable")
                 .arg(definition.where())
                 .arg(minimum)
                 .arg(maximum));
    }
    if (value < minimum || value > maximum) {
        Fail(QStringLiteral("%1: initial value %2 is outside its range")
                 .arg(definition.where())
                 .arg(value));
    }
    auto* field = new QSpinBox(panel.surface);
    field->setRange(int(minimum), int(maximum));
    field->setValue(int(value));
    field->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    field->setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    // Fields for one ID byte are too narrow for arrows; the keyboard's up and down keys
    // and the mouse wheel still step them.
    if (definition.rectangle("rect").width() < 48) {
        field->setButtonSymbols(QAbstractSpinBox::NoButtons);
    }
    control.settledValue = field->value();
    const int handle = panel.handle;
    const int id = control.id;
    QObject::connect(field, &QSpinBox::editingFinished, field, [handle, id, field] {
        int error = 0;
        Control* settled = FindControl(handle, id, &error);
        if (settled == nullptr || field->value() == settled->settledValue) {
            return;
        }
        settled->settledValue = field->value();
        CommitControl(handle, id);
    });
    return field;
}

QWidget* BuildRing(const Definition& definition, Control& control, Panel& panel) {
    auto* list = new PanelList(panel.surface);
    const QJsonArray items = definition.array("items");
    for (qsizetype i = 0; i < items.size(); ++i) {
        const Definition item(items[i], ", item ", i + 1, {}, &definition);
        const long long value = item.integer("value");
        CheckFits(item, control, value, "item value");
        // The value travels with the item, so that an entry is never found by its position.
        list->addItem(item.text("text"), QVariant(qlonglong(value)));
    }
    const long long value = definition.integer("value");
    const int index = list->findData(QVariant(qlonglong(value)));
    if (index < 0) {
        Fail(QStringLiteral("%1: no item has the initial value %2")
                 .arg(definition.where())
                 .arg(value));
    }
    list->setCurrentIndex(index);
    const int handle = panel.handle;
    const int id = control.id;
    QObject::connect(list, &QComboBox::activated, list,
                     [handle, id](int) { CommitControl(handle, id); });
    return list;
}

// A key sequence anywhere in the window presses the button, while a user could press it.
void BindShortcut(const Definition& definition, const Control& control, QAbstractButton* button,
                  Panel& panel) {
    if (!definition.has("shortcut")) {
        return;
    }
    const QString text = definition.text("shortcut");
    const QKeySequence keys = QKeySequence::fromString(text, QKeySequence::PortableText);
    if (keys.isEmpty() || keys.toString(QKeySequence::PortableText) != text) {
        Fail(QStringLiteral("%1: \"%2\" is not a key sequence").arg(definition.where(), text));
    }
    auto* shortcut = new QShortcut(keys, panel.window);
    shortcut->setContext(Qt::WindowShortcut);
    const int handle = panel.handle;
    const int id = control.id;
    QObject::connect(shortcut, &QShortcut::activated, button, [handle, id, button] {
        int error = 0;
        const Control* target = FindControl(handle, id, &error);
        if (target != nullptr && target->visible && !target->dimmed) {
            button->click();
        }
    });
}

QWidget* BuildCommandButton(const Definition& definition, Control& control, Panel& panel) {
    auto* button = new PanelButton(definition.text("text"), panel.surface);
    button->setAccessibleName(Spoken(button->text()));
    const int handle = panel.handle;
    const int id = control.id;
    QObject::connect(button, &QAbstractButton::clicked, button,
                     [handle, id] { CommitControl(handle, id); });
    BindShortcut(definition, control, button, panel);
    return button;
}

QWidget* BuildToggleButton(const Definition& definition, Control& control, Panel& panel) {
    const QString offText = definition.text("offText");
    const QString onText = definition.text("onText");
    const long long value = definition.integer("value", 0);
    if (value != 0 && value != 1) {
        Fail(QStringLiteral("%1: a toggle button's value is 0 or 1").arg(definition.where()));
    }
    auto* button = new PanelButton(value ? onText : offText, panel.surface);
    button->setCheckable(true);
    button->setChecked(value != 0);
    button->setAccessibleName(Spoken(button->text()));
    // The face follows the state whether the user or the program changes it.
    QObject::connect(button, &QAbstractButton::toggled, button, [button, offText, onText](bool on) {
        button->setText(on ? onText : offText);
        button->setAccessibleName(Spoken(button->text()));
    });
    const int handle = panel.handle;
    const int id = control.id;
    QObject::connect(button, &QAbstractButton::clicked, button,
                     [handle, id] { CommitControl(handle, id); });
    return button;
}

QWidget* BuildLed(const Definition& definition, Control&, Panel& panel) {
    const long long value = definition.integer("value", 0);
    if (value != 0 && value != 1) {
        Fail(QStringLiteral("%1: an LED's value is 0 or 1").arg(definition.where()));
    }
    auto* lamp = new LedLamp(definition.color("onColor", QColor(40, 220, 40)),
                             definition.color("offColor", QColor(20, 90, 20)), panel.surface);
    lamp->setOn(value != 0);
    return lamp;
}

void ApplyFont(const Definition& definition, QWidget* widget) {
    QFont font = widget->font();
    if (definition.has("fontPixels")) {
        const long long pixels = definition.integer("fontPixels");
        if (pixels < 6 || pixels > 96) {
            Fail(QStringLiteral("%1: font size %2 is not readable")
                     .arg(definition.where())
                     .arg(pixels));
        }
        font.setPixelSize(int(pixels));
    }
    font.setBold(definition.flag("bold", false));
    font.setItalic(definition.flag("italic", false));
    widget->setFont(font);
}

QWidget* BuildTextMessage(const Definition& definition, Control&, Panel& panel) {
    auto* message = new QLabel(definition.text("text"), panel.surface);
    message->setTextFormat(Qt::PlainText);
    ApplyFont(definition, message);
    static const std::map<QString, Qt::Alignment> alignments = {
        {QStringLiteral("left"), Qt::AlignLeft},
        {QStringLiteral("center"), Qt::AlignHCenter},
        {QStringLiteral("right"), Qt::AlignRight},
    };
    const QString align = definition.text("align", QStringLiteral("left"));
    const auto found = alignments.find(align);
    if (found == alignments.end()) {
        Fail(QStringLiteral("%1: unknown alignment \"%2\"").arg(definition.where(), align));
    }
    message->setAlignment(found->second | Qt::AlignVCenter);
    if (definition.has("color")) {
        QPalette palette = message->palette();
        palette.setColor(QPalette::WindowText, definition.color("color", QColor()));
        message->setPalette(palette);
    }
    message->setAccessibleName(Spoken(message->text()));
    return message;
}

QWidget* BuildDecoration(const Definition& definition, Control&, Panel& panel) {
    static const std::map<QString, int> styles = {
        {QStringLiteral("raised"), QFrame::Panel | QFrame::Raised},
        {QStringLiteral("sunken"), QFrame::Panel | QFrame::Sunken},
        {QStringLiteral("etched"), QFrame::Box | QFrame::Sunken},
        {QStringLiteral("flat"), QFrame::Box | QFrame::Plain},
    };
    const QString style = definition.text("style", QStringLiteral("raised"));
    const auto found = styles.find(style);
    if (found == styles.end()) {
        Fail(QStringLiteral("%1: unknown decoration style \"%2\"").arg(definition.where(), style));
    }
    auto* frame = new QFrame(panel.surface);
    frame->setFrameStyle(found->second);
    frame->setLineWidth(int(definition.integer("lineWidth", 1)));
    if (definition.has("fill")) {
        QPalette palette = frame->palette();
        palette.setColor(QPalette::Window, definition.color("fill", QColor()));
        frame->setPalette(palette);
        frame->setAutoFillBackground(true);
    }
    return frame;
}

QWidget* BuildBody(const Definition& definition, Control& control, Panel& panel) {
    switch (control.kind) {
        case Kind::Numeric:
            return BuildNumeric(definition, control, panel);
        case Kind::Ring:
            return BuildRing(definition, control, panel);
        case Kind::CommandButton:
            return BuildCommandButton(definition, control, panel);
        case Kind::ToggleButton:
            return BuildToggleButton(definition, control, panel);
        case Kind::Led:
            return BuildLed(definition, control, panel);
        case Kind::TextMessage:
            return BuildTextMessage(definition, control, panel);
        case Kind::Decoration:
            return BuildDecoration(definition, control, panel);
    }
    Fail(QStringLiteral("%1: unknown kind").arg(definition.where()));
}

// What the build of a panel's controls keeps from one control to the next.
struct ControlsBuild {
    std::set<QString> constants;  // each may be used once
    // Characters' advances in the labels' font, each measured once: the font engine loads a
    // character's metrics afresh on every call, and the labels share most of their letters.
    QFont measuredFont;
    QHash<char16_t, qreal> advances;
};

// The room a label's text needs: its widest line by the lines' count, a line's width the
// sum of its characters' advances. The label lays out and shapes its text when it paints;
// doing that here as well, for every label before the window shows, costs start-up time.
// A label's texts are plain words, where the sum is the shaped width or, with kerning, a
// little more.
QSize TextSize(const QLabel& label, ControlsBuild& build) {
    const QFontMetricsF metrics(label.font());
    if (!(build.measuredFont == label.font())) {
        build.measuredFont = label.font();
        build.advances.clear();
    }
    const QStringList lines = label.text().split(QLatin1Char('\n'));
    qreal width = 0;
    for (const QString& line : lines) {
        qreal advance = 0;
        for (const QChar character : line) {
            auto known = build.advances.constFind(character.unicode());
            if (known == build.advances.constEnd()) {
                known = build.advances.insert(character.unicode(),
                                              metrics.horizontalAdvance(character));
            }
            advance += *known;
        }
        width = std::max(width, advance);
    }
    return QSize(int(std::ceil(width)), int(lines.size()) * QFontMetrics(label.font()).height());
}

// Labels sit left of their body, right-aligned against it and centred on its height, or
// above it; an explicit "labelRect" overrides both where the automatic place is crowded.
void BuildLabel(const Definition& definition, Control& control, QWidget* window,
                ControlsBuild& build) {
    if (!definition.has("label")) {
        return;
    }
    auto* label = new QLabel(definition.text("label"), window);
    label->setTextFormat(Qt::PlainText);
    label->setBuddy(control.body);
    control.label = label;
    control.body->setAccessibleName(Spoken(label->text()));

    const QRect body = control.body->geometry();
    const QSize wanted = TextSize(*label, build);
    const QString position = definition.text("labelPosition", QStringLiteral("left"));
    if (definition.has("labelRect")) {
        label->setGeometry(definition.rectangle("labelRect"));
        label->setAlignment(position == QLatin1String("above") ? Qt::AlignLeft | Qt::AlignBottom
                                                               : Qt::AlignRight | Qt::AlignVCenter);
    } else if (position == QLatin1String("left")) {
        constexpr int gap = 6;
        const int height = std::max(wanted.height(), body.height());
        label->setGeometry(body.left() - gap - wanted.width(),
                           body.top() + (body.height() - height) / 2, wanted.width(), height);
        label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    } else if (position == QLatin1String("above")) {
        constexpr int gap = 2;
        label->setGeometry(body.left(), body.top() - gap - wanted.height(),
                           std::max(wanted.width(), body.width()), wanted.height());
        label->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    } else {
        Fail(QStringLiteral("%1: unknown label position \"%2\"").arg(definition.where(), position));
    }
}

void BindCallback(const Definition& definition, Control& control) {
    if (!definition.has("callback")) {
        return;
    }
    control.callbackName = definition.text("callback");
    const std::string name = control.callbackName.toStdString();
    const Runtime& runtime = State();
    const auto found = runtime.callbacks.find(name);
    if (found != runtime.callbacks.end()) {
        control.callback = found->second;
    } else if (!runtime.allowUnboundCallbacks) {
        throw DefinitionError{QStringLiteral("%1: callback %2 is not registered")
                                  .arg(definition.where(), QString::fromStdString(name)),
                              UIE_NO_CALLBACK};
    }
}

void BuildControl(const Definition& definition, Panel& panel, ControlsBuild& build) {
    Control control;
    control.constant = definition.text("constant");
    const long long id = definition.integer("id");
    if (id < 0 || id > INT_MAX) {
        Fail(QStringLiteral("%1: identifier %2 is out of range").arg(definition.where()).arg(id));
    }
    control.id = int(id);
    if (panel.controls.count(control.id) != 0) {
        Fail(QStringLiteral("%1: identifier %2 is used twice").arg(definition.where()).arg(id));
    }
    if (!build.constants.insert(control.constant).second) {
        Fail(QStringLiteral("%1: constant %2 is used twice")
                 .arg(definition.where(), control.constant));
    }
    control.kind = KindFromName(definition);
    control.dataType = DataTypeFor(definition, control.kind);
    const QRect body = definition.rectangle("rect");
    control.body = BuildBody(definition, control, panel);
    control.body->setGeometry(body);
    control.body->setObjectName(control.constant);
    if (definition.has("accessibleName")) {
        control.body->setAccessibleName(definition.text("accessibleName"));
    }
    BuildLabel(definition, control, panel.surface, build);
    BindCallback(definition, control);
    if (definition.has("tooltip")) {
        control.body->setToolTip(definition.text("tooltip"));
    }
    ApplyVisible(control, definition.flag("visible", true));
    ApplyDimmed(control, definition.flag("dimmed", false));
    panel.controls.emplace(control.id, control);
}

// The window itself: title, size, home, colours, icon and font.
void ApplyWindowDefinition(const Definition& definition, const QDir& directory, Panel& panel) {
    PanelWindow* window = panel.window;
    window->setWindowTitle(definition.text("title"));
    const long long width = definition.integer("width");
    const long long height = definition.integer("height");
    if (width < 50 || height < 50 || width > 10000 || height > 10000) {
        Fail(QStringLiteral("%1: size %2 x %3 is not usable")
                 .arg(definition.where())
                 .arg(width)
                 .arg(height));
    }
    panel.surface->setFixedSize(int(width), int(height));
    window->setHome(QPoint(int(definition.integer("left", 0)), int(definition.integer("top", 0))));
    window->setPalette(PanelPalette(definition.color("background", QColor(239, 239, 239)),
                                    definition.color("dimmedText", QColor(120, 120, 120))));
    // A missing icon file leaves the window without one; the panel works all the same.
    const QString icon = directory.filePath(definition.text("icon", QString()));
    if (definition.has("icon") && QFileInfo(icon).isFile()) {
        window->setIconFile(icon);
    }
    if (definition.has("fontPixels")) {
        QFont font = window->font();
        font.setPixelSize(int(definition.integer("fontPixels")));
        window->setFont(font);
    }
}

void BuildControls(const Definition& definition, Panel& panel) {
    ControlsBuild build;
    const QJsonArray controls = definition.array("controls");
    std::vector<QWidget*> decorations;
    for (qsizetype i = 0; i < controls.size(); ++i) {
        // Named by its constant where it has one, else by its place in the list.
        const Definition control(controls[i], "control ", i + 1,
                                 controls[i][QLatin1String("constant")].toString());
        BuildControl(control, panel, build);
        const Control& built = panel.controls.at(int(control.integer("id")));
        if (built.kind == Kind::Decoration) {
            decorations.push_back(built.body);
        }
    }
    // Boxes and bands lie under everything; the first one listed is the lowest, so a frame
    // listed after the box around it stays visible.
    for (auto it = decorations.rbegin(); it != decorations.rend(); ++it) {
        (*it)->lower();
    }
}

// The button the window's close box stands for.
void BindCloseControl(const Definition& definition, Panel& panel) {
    if (!definition.has("closeControl")) {
        return;
    }
    const QString name = definition.text("closeControl");
    for (const auto& [id, control] : panel.controls) {
        if (control.constant == name) {
            if (control.kind != Kind::CommandButton && control.kind != Kind::ToggleButton) {
                Fail(QStringLiteral("%1: the close box must stand for a button, not %2")
                         .arg(definition.where(), name));
            }
            panel.closeControl = id;
        }
    }
    if (panel.closeControl < 0) {
        Fail(QStringLiteral("%1: close control %2 is not on the panel")
                 .arg(definition.where(), name));
    }
}

}  // namespace

void BuildPanelFrom(const QJsonObject& object, const QDir& directory, Panel& panel) {
    const Definition definition(object, "panel ", panel.resourceId);
    ApplyWindowDefinition(definition, directory, panel);
    BuildControls(definition, panel);
    BindCloseControl(definition, panel);
}

}  // namespace ui_runtime
