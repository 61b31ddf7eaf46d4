#pragma once

#include "platform/Application.h"

// The application object. Everything it does, it inherits.
class App : public platform::Application {
    Q_OBJECT
public:
    using platform::Application::Application;
};
