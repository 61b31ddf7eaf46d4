#pragma once
// Asks for the address of a serial port on another machine:
// rfc2217://host:port or tcp://host:port.

#include "ports/network/NetworkPort.h"

#include <QDialog>

#include <optional>

class QLabel;
class QLineEdit;

namespace ui {

// Nothing when cancelled.
class NetworkAddressChooser {
public:
    virtual ~NetworkAddressChooser() = default;
    virtual std::optional<platform::net::NetworkAddress> Choose(QWidget *parent) = 0;
};

class DialogNetworkAddressChooser : public NetworkAddressChooser {
public:
    std::optional<platform::net::NetworkAddress> Choose(QWidget *parent) override;
};

class NetworkPortDialog : public QDialog {
    Q_OBJECT
public:
    explicit NetworkPortDialog(QWidget *parent = nullptr);
    // Nothing while what is typed is not an address; Problem() says why.
    std::optional<platform::net::NetworkAddress> Chosen() const;
    QString Problem() const;

private:
    QLineEdit *address_;
    QLabel *problem_;
};

} // namespace ui
