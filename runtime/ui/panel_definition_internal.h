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
#include <climits>
#include <cmath>
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

// Field access with the reason of a failure naming the object it came from. The name is
// put together only when a failure needs it: the panel has dozens of controls and lists,
// and a file that loads never shows one.
class Definition {
  public:
    static constexpr long long unnumbered = LLONG_MIN;

    // The name is kind, then the constant or else the number, after the parent's name:
    // "panel", "panel 1", "control S100", "control 7", "control S100, item 3". An object
    // that is not one reads as an empty object, whose fields are all missing.
    Definition(const QJsonValue& object, const char* kind, long long number = unnumbered,
               const QString& constant = {}, const Definition* parent = nullptr)
        : object_(object.toObject()),
          kind_(kind),
          number_(number),
          constant_(constant),
          parent_(parent) {}

    QString where() const {
        QString name = parent_ != nullptr ? parent_->where() : QString();
        name += QLatin1String(kind_);
        if (!constant_.isEmpty()) {
            name += constant_;
        } else if (number_ != unnumbered) {
            name += QString::number(number_);
        }
        return name;
    }

    bool has(const char* key) const { return object_.contains(QLatin1String(key)); }

    long long integer(const char* key) const {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (value.isUndefined()) {
            Fail(QStringLiteral("%1: \"%2\" is missing").arg(where(), QLatin1String(key)));
        }
        return Integer(value, key);
    }

    long long integer(const char* key, long long fallback) const {
        const QJsonValue value = object_.value(QLatin1String(key));
        return value.isUndefined() ? fallback : Integer(value, key);
    }

    QString text(const char* key) const {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (!value.isString()) {
            Fail(QStringLiteral("%1: \"%2\" must be a text").arg(where(), QLatin1String(key)));
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
            Fail(QStringLiteral("%1: \"%2\" must be true or false")
                     .arg(where(), QLatin1String(key)));
        }
        return value.toBool();
    }

    QJsonArray array(const char* key) const {
        const QJsonValue value = object_.value(QLatin1String(key));
        if (!value.isArray()) {
            Fail(QStringLiteral("%1: \"%2\" must be a list").arg(where(), QLatin1String(key)));
        }
        return value.toArray();
    }

    // [top, left, bottom, right] in panel pixels.
    QRect rectangle(const char* key) const {
        const QJsonArray sides = array(key);
        if (sides.size() != 4) {
            Fail(QStringLiteral("%1: \"%2\" needs top, left, bottom, right")
                     .arg(where(), QLatin1String(key)));
        }
        const long long top = Integer(sides[0], key);
        const long long left = Integer(sides[1], key);
        const long long bottom = Integer(sides[2], key);
        const long long right = Integer(sides[3], key);
        if (bottom <= top || right <= left || std::abs(top) > 100000 || std::abs(left) > 100000 ||
            bottom > 100000 || right > 100000) {
            Fail(QStringLiteral("%1: \"%2\" is not a rectangle").arg(where(), QLatin1String(key)));
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
                     .arg(where(), QLatin1String(key)));
        }
        int parts[3];
        for (int i = 0; i < 3; ++i) {
            const long long part = Integer(rgb[i], key);
            if (part < 0 || part > 255) {
                Fail(QStringLiteral("%1: \"%2\" has a part outside 0 to 255")
                         .arg(where(), QLatin1String(key)));
            }
            parts[i] = int(part);
        }
        return QColor(parts[0], parts[1], parts[2]);
    }

  private:
    // A whole number of 33 bits at most: enough for any field, and far from where a double
    // stops holding whole numbers exactly.
    long long Integer(const QJsonValue& value, const char* key) const {
        const double number = value.toDouble();
        if (!value.isDouble() || number != std::trunc(number) || number < -4294967296.0 ||
            number > 4294967296.0) {
            Fail(QStringLiteral("%1: \"%2\" must be a whole number")
                     .arg(where(), QLatin1String(key)));
        }
        return static_cast<long long>(number);
    }

    QJsonObject object_;
    const char* kind_;
    long long number_;
    QString constant_;
    const Definition* parent_;
};

// The kind a control's "kind" names, and the data type it holds: kinds that hold a value
// need one, the others must not claim one.
Kind KindFromName(const Definition& definition);
DataType DataTypeFor(const Definition& definition, Kind kind);

// Builds the window and its controls from the definition of one panel; the icon and other
// files it names lie in directory.
void BuildPanelFrom(const QJsonObject& object, const QDir& directory, Panel& panel);

}  // namespace ui_runtime
