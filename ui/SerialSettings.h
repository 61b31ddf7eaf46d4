#pragma once
// A serial controller's initial values from its settings record: the
// record's codes turned into line settings, which the port keeps for
// when it opens.

#include "platform/SettingsRecord.h"
#include "ports/SerialController.h"

namespace ui {

class SerialSettings : public platform::Settable {
public:
    explicit SerialSettings(platform::SerialController &controller) : controller_(controller) {}
    platform::PropertyTable Properties() const override;
    void ApplySetting(QByteArrayView name, const QVariant &value) override;

private:
    platform::SerialController &controller_;
};

} // namespace ui
