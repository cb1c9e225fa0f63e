// Values, attributes and lists: what a control holds, whether it shows and can be
// operated, a numeric field's range, and the items of a list.
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QSignalBlocker>
#include <QSpinBox>
#include <algorithm>
#include <cstring>

#include "runtime/ui/ui_internal.h"

namespace ui_runtime {

void ApplyVisible(Control& control, bool visible) {
    control.visible = visible;
    control.body->setHidden(!visible);
    if (control.label != nullptr) {
        control.label->setHidden(!visible);
    }
}

void ApplyDimmed(Control& control, bool dimmed) {
    control.dimmed = dimmed;
    control.body->setEnabled(!dimmed);
    if (control.label != nullptr) {
        control.label->setEnabled(!dimmed);
    }
}

namespace {

// The value a control holds, whatever its data type; false for kinds without a value or a
// list without items.
bool ReadValue(const Control& control, long long* value) {
    switch (control.kind) {
        case Kind::Numeric:
            *value = static_cast<const QSpinBox*>(control.body)->value();
            return true;
        case Kind::Ring: {
            const auto* list = static_cast<const QComboBox*>(control.body);
            if (list->currentIndex() < 0) {
                return false;
            }
            *value = list->currentData().toLongLong();
            return true;
        }
        case Kind::ToggleButton:
            *value = static_cast<const QAbstractButton*>(control.body)->isChecked() ? 1 : 0;
            return true;
        case Kind::Led:
            *value = static_cast<const LedLamp*>(control.body)->isOn() ? 1 : 0;
            return true;
        default:
            return false;
    }
}

template <typename Value>
int GetTypedValue(int panel, int control, Value* value, DataType wanted) {
    int error = 0;
    const Control* found = FindControl(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    if (found->dataType == DataType::None) {
        return UIE_WRONG_KIND;
    }
    if (found->dataType != wanted) {
        return UIE_TYPE_MISMATCH;
    }
    long long held = 0;
    if (!ReadValue(*found, &held)) {
        return UIE_BAD_VALUE;
    }
    *value = static_cast<Value>(held);
    return UIE_NO_ERROR;
}

// A numeric field's range end. Qt moves the other end along when the two would cross,
// and coerces the value into the new range; neither runs a callback.
int SetRangeEnd(Control& control, int attribute, int value) {
    if (control.kind != Kind::Numeric) {
        return UIE_BAD_ATTRIBUTE;
    }
    if (value < DataTypeMinimum(control.dataType) || value > DataTypeMaximum(control.dataType)) {
        return UIE_BAD_VALUE;
    }
    auto* field = static_cast<QSpinBox*>(control.body);
    if (attribute == ATTR_MAX_VALUE) {
        field->setMaximum(value);
    } else {
        field->setMinimum(value);
    }
    control.settledValue = field->value();
    return UIE_NO_ERROR;
}

Control* FindList(int panel, int control, int* error) {
    Control* found = FindControl(panel, control, error);
    if (found != nullptr && found->kind != Kind::Ring) {
        *error = UIE_WRONG_KIND;
        return nullptr;
    }
    return found;
}

}  // namespace

}  // namespace ui_runtime

using namespace ui_runtime;

int GetCtrlVal(int panel, int control, uint8_t* value) {
    return GetTypedValue(panel, control, value, DataType::UInt8);
}

int GetCtrlVal(int panel, int control, uint32_t* value) {
    return GetTypedValue(panel, control, value, DataType::UInt32);
}

int GetCtrlVal(int panel, int control, int* value) {
    return GetTypedValue(panel, control, value, DataType::Int);
}

int SetCtrlVal(int panel, int control, long long value) {
    int error = 0;
    Control* found = FindControl(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    // Only signals no callback listens to are emitted here: the commits come from
    // activated, clicked and editingFinished, which Qt raises for the user alone.
    switch (found->kind) {
        case Kind::Numeric: {
            auto* field = static_cast<QSpinBox*>(found->body);
            const long long coerced =
                std::clamp<long long>(value, field->minimum(), field->maximum());
            field->setValue(int(coerced));
            found->settledValue = field->value();
            return UIE_NO_ERROR;
        }
        case Kind::Ring: {
            auto* list = static_cast<QComboBox*>(found->body);
            const int index = list->findData(QVariant(qlonglong(value)));
            if (index < 0) {
                return UIE_BAD_VALUE;
            }
            list->setCurrentIndex(index);
            return UIE_NO_ERROR;
        }
        case Kind::ToggleButton:
            static_cast<QAbstractButton*>(found->body)->setChecked(value != 0);
            return UIE_NO_ERROR;
        case Kind::Led:
            static_cast<LedLamp*>(found->body)->setOn(value != 0);
            return UIE_NO_ERROR;
        default:
            return UIE_WRONG_KIND;
    }
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    int error = 0;
    Control* found = FindControl(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    switch (attribute) {
        case ATTR_DIMMED:
            ApplyDimmed(*found, value != 0);
            return UIE_NO_ERROR;
        case ATTR_VISIBLE:
            ApplyVisible(*found, value != 0);
            return UIE_NO_ERROR;
        case ATTR_MAX_VALUE:
        case ATTR_MIN_VALUE:
            return SetRangeEnd(*found, attribute, value);
        default:
            return UIE_BAD_ATTRIBUTE;
    }
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    int error = 0;
    const Control* found = FindControl(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    switch (attribute) {
        case ATTR_DIMMED:
            *value = found->dimmed ? 1 : 0;
            return UIE_NO_ERROR;
        case ATTR_VISIBLE:
            *value = found->visible ? 1 : 0;
            return UIE_NO_ERROR;
        case ATTR_MAX_VALUE:
        case ATTR_MIN_VALUE: {
            if (found->kind != Kind::Numeric) {
                return UIE_BAD_ATTRIBUTE;
            }
            const auto* field = static_cast<const QSpinBox*>(found->body);
            *value = attribute == ATTR_MAX_VALUE ? field->maximum() : field->minimum();
            return UIE_NO_ERROR;
        }
        default:
            return UIE_BAD_ATTRIBUTE;
    }
}

int InsertListItem(int panel, int control, int index, const char* label, int value) {
    int error = 0;
    const Control* found = FindList(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    auto* list = static_cast<QComboBox*>(found->body);
    if (index == -1) {
        index = list->count();
    }
    if (index < 0 || index > list->count()) {
        return UIE_BAD_INDEX;
    }
    if (value < DataTypeMinimum(found->dataType) || value > DataTypeMaximum(found->dataType)) {
        return UIE_BAD_VALUE;
    }
    // An empty list selects its first new item; that is the program's doing, not a commit.
    const QSignalBlocker quiet(list);
    list->insertItem(index, QString::fromUtf8(label == nullptr ? "" : label),
                     QVariant(qlonglong(value)));
    return UIE_NO_ERROR;
}

int DeleteListItem(int panel, int control, int index, int count) {
    int error = 0;
    const Control* found = FindList(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    auto* list = static_cast<QComboBox*>(found->body);
    const int items = list->count();
    if (index < 0 || index > items || (index == items && count != -1 && count != 0)) {
        return UIE_BAD_INDEX;
    }
    if (count == -1) {
        count = items - index;
    }
    if (count < 0 || index + count > items) {
        return UIE_BAD_INDEX;
    }
    const QSignalBlocker quiet(list);
    for (int i = 0; i < count; ++i) {
        list->removeItem(index);
    }
    return UIE_NO_ERROR;
}

int GetNumListItems(int panel, int control, int* count) {
    int error = 0;
    const Control* found = FindList(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    *count = static_cast<const QComboBox*>(found->body)->count();
    return UIE_NO_ERROR;
}

int GetListItem(int panel, int control, int index, char* label, std::size_t labelSize, int* value) {
    int error = 0;
    const Control* found = FindList(panel, control, &error);
    if (found == nullptr) {
        return error;
    }
    const auto* list = static_cast<const QComboBox*>(found->body);
    if (index < 0 || index >= list->count()) {
        return UIE_BAD_INDEX;
    }
    if (label != nullptr && labelSize > 0) {
        const QByteArray text = list->itemText(index).toUtf8();
        const std::size_t length = std::min<std::size_t>(std::size_t(text.size()), labelSize - 1);
        std::memcpy(label, text.constData(), length);
        label[length] = '\0';
    }
    if (value != nullptr) {
        *value = int(list->itemData(index).toLongLong());
    }
    return UIE_NO_ERROR;
}
