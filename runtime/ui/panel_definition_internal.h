// Inside of the panel builder: reading a panel definition's fields, with a failure that
// names the object it came from. Only the builder's files include this header.
#pragma once

#include <QColor>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QRect>
#include <QString>
#include <cstdlib>

#include "runtime/ui/ui_internal.h"

namespace ui_runtime {

// A fault in the definition; BuildPanel turns it into the one-line reason.
struct DefinitionError {
    QString reason;
    int code = UIE_PANEL_FILE;
};

[[noreturn]] inline void Fail(const QString& reason) {
    throw DefinitionError{reason};
}

// Field access with the reason of a failure naming the object it came from.
class Definition {
  public:
    Definition(const QJsonObject& object, QString where) : object_(object), where_(where) {}

    const QString& where() const { return where_; }
    bool has(const char* key) const { return object_.contains(QLatin1String(key)); }

    long long integer(const char* key) const {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (value.isUndefined()) {
            Fail(QStringLiteral("%1: \"%2\" is missing").arg(where_, QLatin1String(key)));
        }
        return Integer(value, QLatin1String(key));
    }

    long long integer(const char* key, long long fallback) const {
        return has(key) ? integer(key) : fallback;
    }

    QString text(const char* key) const {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (!value.isString()) {
            Fail(QStringLiteral("%1: \"%2\" must be a text").arg(where_, QLatin1String(key)));
        }
        return value.toString();
    }

    QString text(const char* key, const QString& fallback) const {
        return has(key) ? text(key) : fallback;
    }

    bool flag(const char* key, bool fallback) const {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (value.isUndefined()) {
            return fallback;
        }
        if (!value.isBool()) {
            Fail(
                QStringLiteral("%1: \"%2\" must be true or false").arg(where_, QLatin1String(key)));
        }
        return value.toBool();
    }

    QJsonArray array(const char* key) const {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (!value.isArray()) {
            Fail(QStringLiteral("%1: \"%2\" must be a list").arg(where_, QLatin1String(key)));
        }
        return value.toArray();
    }

    // [top, left, bottom, right] in panel pixels.
    QRect rectangle(const char* key) const {
        const QJsonArray sides = array(key);
        if (sides.size() != 4) {
            Fail(QStringLiteral("%1: \"%2\" needs top, left, bottom, right")
                     .arg(where_, QLatin1String(key)));
        }
        const long long top = Integer(sides[0], QLatin1String(key));
        const long long left = Integer(sides[1], QLatin1String(key));
        const long long bottom = Integer(sides[2], QLatin1String(key));
        const long long right = Integer(sides[3], QLatin1String(key));
        if (bottom <= top || right <= left || std::abs(top) > 100000 || std::abs(left) > 100000 ||
            bottom > 100000 || right > 100000) {
            Fail(QStringLiteral("%1: \"%2\" is not a rectangle").arg(where_, QLatin1String(key)));
        }
        return QRect(QPoint(int(left), int(top)), QPoint(int(right) - 1, int(bottom) - 1));
    }

    QColor color(const char* key, const QColor& fallback) const {
        if (!has(key)) {
            return fallback;
        }
        const QJsonArray rgb = array(key);
        if (rgb.size() != 3) {
            Fail(QStringLiteral("%1: \"%2\" needs red, green, blue")
                     .arg(where_, QLatin1String(key)));
        }
        int parts[3];
        for (int i = 0; i < 3; ++i) {
            const long long part = Integer(rgb[i], QLatin1String(key));
            if (part < 0 || part > 255) {
                Fail(QStringLiteral("%1: \"%2\" has a part outside 0 to 255")
                         .arg(where_, QLatin1String(key)));
            }
            parts[i] = int(part);
        }
        return QColor(parts[0], parts[1], parts[2]);
    }

  private:
    long long Integer(const QJsonValue& value, QLatin1String key) const {
        const double number = value.toDouble();
        if (!value.isDouble() || number != double(value.toInteger()) || number < -4294967296.0 ||
            number > 4294967296.0) {
            Fail(QStringLiteral("%1: \"%2\" must be a whole number").arg(where_, key));
        }
        return value.toInteger();
    }

    QJsonObject object_;
    QString where_;
};

// The kind a control's "kind" names, and the data type it holds: kinds that hold a value
// need one, the others must not claim one.
Kind KindFromName(const Definition& definition);
DataType DataTypeFor(const Definition& definition, Kind kind);

// Builds the window and its controls from the definition of one panel; the icon and other
// files it names lie in directory.
void BuildPanelFrom(const QJsonObject& object, const QDir& directory, Panel& panel);

}  // namespace ui_runtime
