// Modal popups: message, yes/no question and file selection. Under the test seam each
// popup is recorded and answered from a queue instead of being shown.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <cstdio>
#include <cstring>

#include "runtime/ui/ui_internal.h"

namespace ui_runtime {

namespace {

QString Text(const char* text) {
    return QString::fromUtf8(text == nullptr ? "" : text);
}

// Messages are written with the serial line's "\r\n" endings and sometimes a bare "\r";
// both are line breaks on screen.
QString MessageText(const char* message) {
    QString text = Text(message);
    text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

// Popups belong to the panel the user works in, so they open over it.
QWidget* PopupParent() {
    if (QWidget* active = QApplication::activeWindow()) {
        return active;
    }
    for (const auto& [handle, panel] : State().panels) {
        if (panel->window->isVisible()) {
            return panel->window;
        }
    }
    return nullptr;
}

// The patterns of a file-type list such as "*.txt" or "*.txt;*.cfg".
QStringList Patterns(const char* fileTypeList) {
    QStringList patterns;
    const QStringList parts = Text(fileTypeList).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        if (!part.trimmed().isEmpty()) {
            patterns << part.trimmed();
        }
    }
    return patterns;
}

// The extension a bare file name gets: that of the first pattern, when the pattern names
// one plain extension ("*.txt" gives "txt"; "*.*" and "*" give none).
QString DefaultExtension(const char* fileTypeList) {
    const QStringList patterns = Patterns(fileTypeList);
    if (patterns.isEmpty() || !patterns.first().startsWith(QLatin1String("*."))) {
        return QString();
    }
    const QString extension = patterns.first().mid(2);
    for (const QChar c : extension) {
        if (c == QLatin1Char('*') || c == QLatin1Char('?') || c == QLatin1Char('[') ||
            c == QLatin1Char('.')) {
            return QString();
        }
    }
    return extension;
}

void Record(ui_testing::PopupKind kind, const char* title, const char* message,
            const char* details = nullptr) {
    ui_testing::Popup popup;
    popup.kind = kind;
    popup.title = Text(title).toStdString();
    popup.message = Text(message).toStdString();
    popup.details = Text(details).toStdString();
    State().popups.push_back(popup);
}

// One line on stderr: the program, the popup's title and the details, line breaks turned
// into "; " so that a log keeps one failure per line.
void PrintDetails(const char* title, const char* details) {
    QString line = MessageText(details).trimmed();
    line.replace(QLatin1Char('\n'), QLatin1String("; "));
    const QByteArray text = (QCoreApplication::applicationName() + QLatin1String(": ") +
                             Text(title).trimmed() + QLatin1String(": ") + line)
                                .toLocal8Bit();
    std::fprintf(stderr, "%s\n", text.constData());
    std::fflush(stderr);
}

}  // namespace

int FinishChosenPath(const QString& chosen, const char* fileTypeList, int restrictExtension,
                     int buttonLabel, char* pathName) {
    if (chosen.isEmpty()) {
        return 0;
    }
    QString path = chosen;
    int result = 1;
    const QString extension = DefaultExtension(fileTypeList);
    const QString name = QFileInfo(path).fileName();
    // Windows users write "SETTINGS.TXT" as often as "settings.txt"; both are text files.
    if (restrictExtension && !extension.isEmpty() && !name.isEmpty() &&
        !name.endsWith(QLatin1Char('.') + extension, Qt::CaseInsensitive)) {
        if (buttonLabel == VAL_LOAD_BUTTON) {
            result = UIE_BAD_FILE_TYPE;
        } else if (name.endsWith(QLatin1Char('.'))) {
            path += extension;
        } else {
            path += QLatin1Char('.') + extension;
        }
    }
    const QByteArray encoded = QFile::encodeName(QDir::toNativeSeparators(path));
    if (std::size_t(encoded.size()) + 1 > MAX_PATHNAME_LEN) {
        return UIE_PATH_TOO_LONG;
    }
    std::memcpy(pathName, encoded.constData(), std::size_t(encoded.size()) + 1);
    return result;
}

namespace {

// Under the test seam: the dialog recorded with what the program passed, and answered from
// the queue.
int AnswerFileSelect(const char* defaultDirectory, const char* defaultFileSpec,
                     const char* fileTypeList, const char* title, int buttonLabel,
                     int restrictExtension, int allowCancel, char* pathName) {
    Runtime& runtime = State();
    Record(ui_testing::PopupKind::FileSelect, title, nullptr);
    ui_testing::Popup& popup = runtime.popups.back();
    popup.defaultDirectory = Text(defaultDirectory).toStdString();
    popup.defaultFileSpec = Text(defaultFileSpec).toStdString();
    popup.restrictExtension = restrictExtension != 0;
    popup.allowCancel = allowCancel != 0;
    if (runtime.fileAnswers.empty()) {
        return 0;
    }
    const std::optional<std::string> answer = runtime.fileAnswers.front();
    runtime.fileAnswers.pop_front();
    if (!answer) {
        return 0;
    }
    return FinishChosenPath(QFile::decodeName(answer->c_str()), fileTypeList, restrictExtension,
                            buttonLabel, pathName);
}

// The dialog's filters, its accept button and what it lets the user do.
void SetUpFileDialog(QFileDialog& dialog, const char* fileTypeList, int buttonLabel,
                     int restrictExtension, int allowMakeDirectory) {
    const QStringList patterns = Patterns(fileTypeList);
    QStringList filters;
    if (!patterns.isEmpty()) {
        filters << QStringLiteral("Files (%1)").arg(patterns.join(QLatin1Char(' ')));
    }
    if (!restrictExtension || patterns.isEmpty()) {
        filters << QStringLiteral("All files (*)");
    }
    dialog.setNameFilters(filters);
    const bool saving = buttonLabel == VAL_SAVE_BUTTON;
    dialog.setAcceptMode(saving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(buttonLabel == VAL_LOAD_BUTTON ? QFileDialog::ExistingFile
                                                      : QFileDialog::AnyFile);
    const char* accept = saving                             ? "Save"
                         : buttonLabel == VAL_LOAD_BUTTON   ? "Load"
                         : buttonLabel == VAL_SELECT_BUTTON ? "Select"
                                                            : "OK";
    dialog.setLabelText(QFileDialog::Accept, QString::fromLatin1(accept));
    // The dialog adds the extension to a bare name itself, so that the user sees the name
    // that will be written.
    if (restrictExtension) {
        dialog.setDefaultSuffix(DefaultExtension(fileTypeList));
    }
    // A name with another extension gets the restricted one only once the dialog is
    // closed ("settings.cfg" is saved as "settings.cfg.txt"), so the question about
    // replacing an existing file is asked by RunFileDialog, for the name really written.
    if (saving) {
        dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    }
    if (!allowMakeDirectory) {
        dialog.setOption(QFileDialog::ReadOnly, true);
    }
}

// Without a way to cancel, the dialog comes back until a file is chosen; so it does when
// the user would rather not replace the file the name leads to.
int RunFileDialog(QFileDialog& dialog, const char* title, const char* fileTypeList, int buttonLabel,
                  int restrictExtension, int allowCancel, char* pathName) {
    for (;;) {
        if (dialog.exec() != QDialog::Accepted) {
            if (allowCancel) {
                return 0;
            }
            continue;
        }
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty()) {
            continue;
        }
        const int result = FinishChosenPath(chosen.first(), fileTypeList, restrictExtension,
                                            buttonLabel, pathName);
        const QString path = QFile::decodeName(pathName);
        if (result != 1 || buttonLabel != VAL_SAVE_BUTTON || !QFileInfo::exists(path)) {
            return result;
        }
        QMessageBox replace(QMessageBox::Warning, Text(title),
                            QStringLiteral("%1 already exists.\nDo you want to replace it?")
                                .arg(QFileInfo(path).fileName()),
                            QMessageBox::Yes | QMessageBox::No, &dialog);
        replace.setTextFormat(Qt::PlainText);
        replace.setDefaultButton(QMessageBox::No);
        if (replace.exec() == QMessageBox::Yes) {
            return result;
        }
    }
}

}  // namespace

}  // namespace ui_runtime

using namespace ui_runtime;

int MessagePopup(const char* title, const char* message) {
    return MessagePopupWithDetails(title, message, nullptr);
}

int MessagePopupWithDetails(const char* title, const char* message, const char* details) {
    if (QApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    if (details != nullptr) {
        PrintDetails(title, details);
    }
    Runtime& runtime = State();
    if (runtime.testing) {
        Record(ui_testing::PopupKind::Message, title, message, details);
        return 0;
    }
    QMessageBox box(QMessageBox::NoIcon, Text(title), MessageText(message), QMessageBox::Ok,
                    PopupParent());
    box.setTextFormat(Qt::PlainText);
    if (details != nullptr) {
        box.setInformativeText(MessageText(details));
    }
    box.exec();
    return 0;
}

int ConfirmPopup(const char* title, const char* message) {
    if (QApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    Runtime& runtime = State();
    if (runtime.testing) {
        Record(ui_testing::PopupKind::Confirm, title, message);
        if (runtime.confirmAnswers.empty()) {
            return 0;
        }
        const bool yes = runtime.confirmAnswers.front();
        runtime.confirmAnswers.pop_front();
        return yes ? 1 : 0;
    }
    QMessageBox box(QMessageBox::Question, Text(title), MessageText(message),
                    QMessageBox::Yes | QMessageBox::No, PopupParent());
    box.setTextFormat(Qt::PlainText);
    box.setDefaultButton(QMessageBox::Yes);
    return box.exec() == QMessageBox::Yes ? 1 : 0;
}

int FileSelectPopup(const char* defaultDirectory, const char* defaultFileSpec,
                    const char* fileTypeList, const char* title, int buttonLabel,
                    int restrictDirectory, int restrictExtension, int allowCancel,
                    int allowMakeDirectory, char* pathName) {
    if (QApplication::instance() == nullptr) {
        return UIE_NOT_INITIALISED;
    }
    if (State().testing) {
        return AnswerFileSelect(defaultDirectory, defaultFileSpec, fileTypeList, title, buttonLabel,
                                restrictExtension, allowCancel, pathName);
    }
    QString directory = QFile::decodeName(defaultDirectory == nullptr ? "" : defaultDirectory);
    directory =
        QDir::current().absoluteFilePath(directory.isEmpty() ? QStringLiteral(".") : directory);
    directory = QDir::cleanPath(directory);
    QFileDialog dialog(PopupParent(), Text(title), directory);
    SetUpFileDialog(dialog, fileTypeList, buttonLabel, restrictExtension, allowMakeDirectory);
    if (restrictDirectory) {
        QObject::connect(&dialog, &QFileDialog::directoryEntered, &dialog,
                         [&dialog, directory](const QString& entered) {
                             if (QDir(entered) != QDir(directory)) {
                                 dialog.setDirectory(directory);
                             }
                         });
    }
    const QString fileSpec = Text(defaultFileSpec);
    if (!fileSpec.isEmpty() && !fileSpec.contains(QLatin1Char('*')) &&
        !fileSpec.contains(QLatin1Char('?'))) {
        dialog.selectFile(fileSpec);
    }
    return RunFileDialog(dialog, title, fileTypeList, buttonLabel, restrictExtension, allowCancel,
                         pathName);
}
