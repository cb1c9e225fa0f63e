// Reads a panel definition file, a JSON document:
//
//   { "panels": [ { "constant": "PANEL", "id": 1, "title": ..., "width": ..., "height": ...,
//                   "top": ..., "left": ..., "background": [r, g, b],
//                   "dimmedText": [r, g, b], "fontPixels": 12, "icon": "file.ico",
//                   "closeControl": "QUIT", "controls": [ ... ] } ] }
//
// and checks the panel built from it against the controls the program relies on. The
// builder (panel_builder.cpp) makes the window and its controls.
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <climits>
#include <map>

#include "runtime/files/whole_files.h"
#include "runtime/ui/panel_definition_internal.h"

namespace ui_runtime {

long long DataTypeMinimum(DataType type) {
    switch (type) {
        case DataType::Int:
            return INT_MIN;
        default:
            return 0;
    }
}

long long DataTypeMaximum(DataType type) {
    switch (type) {
        case DataType::UInt8:
            return UINT8_MAX;
        case DataType::UInt32:
            return UINT32_MAX;
        case DataType::Int:
            return INT_MAX;
        case DataType::None:
            break;
    }
    return 0;
}

namespace {

// The words of the panel file for the kinds and data types.
const std::map<QString, Kind> kinds = {
    {QStringLiteral("numeric"), Kind::Numeric},
    {QStringLiteral("ring"), Kind::Ring},
    {QStringLiteral("commandButton"), Kind::CommandButton},
    {QStringLiteral("toggleButton"), Kind::ToggleButton},
    {QStringLiteral("led"), Kind::Led},
    {QStringLiteral("textMessage"), Kind::TextMessage},
    {QStringLiteral("decoration"), Kind::Decoration},
};
const std::map<QString, DataType> types = {
    {QStringLiteral("uint8"), DataType::UInt8},
    {QStringLiteral("uint32"), DataType::UInt32},
    {QStringLiteral("int"), DataType::Int},
};

template <typename Value>
QString NameOf(const std::map<QString, Value>& names, Value value) {
    for (const auto& [name, named] : names) {
        if (named == value) {
            return name;
        }
    }
    return QStringLiteral("none");
}

}  // namespace

Kind KindFromName(const Definition& definition) {
    const QString name = definition.text("kind");
    const auto found = kinds.find(name);
    if (found == kinds.end()) {
        Fail(QStringLiteral("%1: unknown kind \"%2\"").arg(definition.where(), name));
    }
    return found->second;
}

// Kinds that hold a value need a data type; the others must not claim one.
DataType DataTypeFor(const Definition& definition, Kind kind) {
    const bool holdsValue = kind == Kind::Numeric || kind == Kind::Ring ||
                            kind == Kind::ToggleButton || kind == Kind::Led;
    if (!holdsValue) {
        if (definition.has("dataType")) {
            Fail(QStringLiteral("%1: this kind of control holds no value, so no \"dataType\"")
                     .arg(definition.where()));
        }
        return DataType::None;
    }
    const QString name = definition.text("dataType");
    const auto found = types.find(name);
    if (found == types.end()) {
        Fail(QStringLiteral("%1: unknown data type \"%2\"").arg(definition.where(), name));
    }
    return found->second;
}

namespace {

QJsonObject FindPanelDefinition(const QJsonObject& document, int panelId) {
    const QJsonValue panels = document.value(QLatin1String("panels"));
    if (!panels.isArray()) {
        Fail(QStringLiteral("no list of \"panels\""));
    }
    for (const QJsonValue entry : panels.toArray()) {
        const Definition panel(entry, "panel");
        if (panel.integer("id", -1) == panelId) {
            return entry.toObject();
        }
    }
    Fail(QStringLiteral("no panel with identifier %1").arg(panelId));
}

// A file that parses can still not be the one the program was built for; a control it
// relies on that is missing, of another kind or type, or bound to another callback would
// make the window misbehave without a word (a register read as uint32 saves as 0).
void CheckExpectedControls(const Panel& panel) {
    const auto found = State().expected.find(panel.resourceId);
    if (found == State().expected.end()) {
        return;
    }
    for (const Runtime::Expected& expected : found->second) {
        const auto where = [&expected] { return QStringLiteral("control ") + expected.constant; };
        const auto entry = panel.controls.find(expected.id);
        if (entry == panel.controls.end()) {
            Fail(QStringLiteral("%1 (identifier %2) is missing").arg(where()).arg(expected.id));
        }
        const Control& control = entry->second;
        if (control.constant != expected.constant) {
            Fail(QStringLiteral("%1: identifier %2 is %3 in the file")
                     .arg(where())
                     .arg(expected.id)
                     .arg(control.constant));
        }
        if (control.kind != expected.kind) {
            Fail(QStringLiteral("%1 is a %2 control in the file, the program needs a %3")
                     .arg(where(), NameOf(kinds, control.kind), NameOf(kinds, expected.kind)));
        }
        if (control.dataType != expected.dataType) {
            Fail(QStringLiteral("%1 holds %2 in the file, the program reads it as %3")
                     .arg(where(), NameOf(types, control.dataType),
                          NameOf(types, expected.dataType)));
        }
        if (!expected.callbackName.isEmpty() && control.callbackName != expected.callbackName) {
            Fail(QStringLiteral("%1 calls %2 in the file, the program needs %3")
                     .arg(where(),
                          control.callbackName.isEmpty() ? QStringLiteral("no callback")
                                                         : control.callbackName,
                          expected.callbackName));
        }
    }
}

}  // namespace
int BuildPanel(const QString& path, int panelId, Panel& panel, QString& reason) {
    const QString shown = QDir::toNativeSeparators(path);
    // Only a regular file: opening a pipe waits for a writer that never comes, before any
    // window is up, and a device such as /dev/zero never ends.
    const QFileInfo info(path);
    if (info.exists() && !info.isFile()) {
        reason = QStringLiteral("%1: not a regular file").arg(shown);
        return UIE_PANEL_FILE;
    }
    // A panel file is a few tens of kilobytes; anything far larger is not one.
    constexpr std::size_t largestPanelFile = std::size_t{16} * 1024 * 1024;
    std::string contents;
    const int error =
        ReadWholeFile(QFile::encodeName(path).constData(), largestPanelFile, &contents, nullptr);
    if (error == FILEIO_TOO_LARGE) {
        reason = QStringLiteral("%1: too large for a panel file").arg(shown);
        return UIE_PANEL_FILE;
    }
    if (error != FILEIO_NO_ERROR) {
        reason =
            QStringLiteral("cannot %1 %2: %3")
                .arg(error == FILEIO_READ_FAILED ? QStringLiteral("read") : QStringLiteral("open"),
                     shown, QString::fromStdString(FileIoReason(error)));
        return UIE_PANEL_FILE;
    }
    QJsonParseError parseError{};
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromStdString(contents), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        reason = QStringLiteral("%1: malformed panel file: %2 at offset %3")
                     .arg(shown, parseError.errorString())
                     .arg(parseError.offset);
        return UIE_PANEL_FILE;
    }
    panel.resourceId = panelId;
    try {
        BuildPanelFrom(FindPanelDefinition(document.object(), panelId), QFileInfo(path).dir(),
                       panel);
        CheckExpectedControls(panel);
    } catch (const DefinitionError& error) {
        reason = QStringLiteral("%1: %2").arg(shown, error.reason);
        return error.code;
    }
    return UIE_NO_ERROR;
}

}  // namespace ui_runtime
