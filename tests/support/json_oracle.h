// Qt's JSON reader as the judge of the panel file's own: what ours accepts, Qt must read to
// the same values. Ours is the stricter, with two exceptions it refuses itself (a key
// twice in one object) or that are stripped here first (a leading byte order mark).
#pragma once

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <string>
#include <string_view>

#include "runtime/ui/panel_json.h"

inline bool SameAsQt(const panel_json::Value& value, const QJsonValue& qt) {
    if (const bool* flag = value.flag()) {
        return qt.isBool() && qt.toBool() == *flag;
    }
    if (const double* number = value.number()) {
        return qt.isDouble() && qt.toDouble() == *number;
    }
    if (const std::string* text = value.text()) {
        return qt.isString() &&
               qt.toString() == QString::fromUtf8(text->data(), qsizetype(text->size()));
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
        const QJsonObject object = qt.toObject();
        bool same = qt.isObject() && object.size() == qsizetype(members->size());
        for (std::size_t i = 0; same && i < members->size(); ++i) {
            const std::string& key = (*members)[i].key;
            same = SameAsQt((*members)[i].value,
                            object.value(QString::fromUtf8(key.data(), qsizetype(key.size()))));
        }
        return same;
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
