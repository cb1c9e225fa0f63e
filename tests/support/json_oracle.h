// Qt's JSON reader as the judge of the panel file's own: what ours accepts, Qt must read to
// the same values. Ours is the stricter, with exceptions it refuses itself (a key twice in
// one object) or that are allowed for here: a byte order mark at the start of the document,
// and one at the start of a string, which ours keeps and Qt drops as it hands the string out.
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/ui/panel_json.h"

// A string of ours as Qt's reader hands it out: through the same conversion, which drops a
// leading byte order mark.
inline QString AsQtReadsIt(std::string_view text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

inline bool SameAsQt(const panel_json::Value& value, const QJsonValue& qt) {
    if (const bool* flag = value.flag()) {
        return qt.isBool() && qt.toBool() == *flag;
    }
    if (const double* number = value.number()) {
        return qt.isDouble() && qt.toDouble() == *number;
    }
    if (const std::string* text = value.text()) {
        return qt.isString() && qt.toString() == AsQtReadsIt(*text);
    }
    if (const panel_json::Value::Array* items = value.array()) {
        const QJsonArray list = qt.toArray();
        bool same = qt.isArray() && list.size() == qsizetype(items->size());
        for (std::size_t i = 0; same && i < items->size(); ++i) {
            same = SameAsQt((*items)[i], list[qsizetype(i)]);
        }
        return same;
    }
    if (const panel_json::Value::Object* members = value.object()) {
        // Qt's members are walked, not looked up: Qt keeps a key's leading byte order mark
        // when it compares keys but drops it when it hands a key out.
        const QJsonObject object = qt.toObject();
        if (!qt.isObject() || object.size() != qsizetype(members->size())) {
            return false;
        }
        std::vector<bool> matched(members->size());
        for (auto entry = object.begin(); entry != object.end(); ++entry) {
            std::size_t i = 0;
            while (i < members->size() &&
                   (matched[i] || AsQtReadsIt((*members)[i].key) != entry.key() ||
                    !SameAsQt((*members)[i].value, entry.value()))) {
                ++i;
            }
            if (i == members->size()) {
                return false;
            }
            matched[i] = true;
        }
        return true;
    }
    return value.isNull() && qt.isNull();
}

// Qt's document holds only a list or an object, so the bytes are read as a list's element.
inline bool QtReadsTheSame(std::string_view bytes, const panel_json::Value& value) {
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    }
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(
        "[" + QByteArray(bytes.data(), qsizetype(bytes.size())) + "]", &error);
    return error.error == QJsonParseError::NoError && SameAsQt(value, document.array().at(0));
}
