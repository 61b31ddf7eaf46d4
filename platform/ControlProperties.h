#pragma once
// Record entries shared by the visible controls.

#include "SettingsRecord.h"

class QObject;

namespace platform {

using T = SettingType;

// Every visible control's record starts with these entries.
#define VISUAL_CONTROL_PROPERTIES                                                                       \
    {"Name", T::String}, {"Index", T::Integer}, {"Left", T::Integer}, {"Top", T::Integer},              \
        {"Width", T::Integer}, {"Height", T::Integer}, {"LockLeft", T::Boolean}, {"LockTop", T::Boolean}, \
        {"LockRight", T::Boolean}, {"LockBottom", T::Boolean}, {"TabIndex", T::Integer},                \
        {"TabPanelIndex", T::Integer}, {"TabStop", T::Boolean}, {"Visible", T::Boolean},                \
        {"Enabled", T::Boolean}, {"HelpTag", T::String}, {"AutoDeactivate", T::Boolean},                \
        {"Transparent", T::Boolean}, {"DataSource", T::String}, {"DataField", T::String},                \
        {"TextFont", T::String}, {"TextSize", T::TextSize}, {"TextUnit", T::TextUnit},                  \
        {"Bold", T::Boolean}, {"Italic", T::Boolean}, {"Underline", T::Boolean}


// Keeps a property Qt has no use for where it can still be read back.
void KeepAsProperty(QObject &object, QByteArrayView name, const QVariant &value);

} // namespace platform
