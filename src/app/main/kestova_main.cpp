// The kestova executable: one instance per user, the services, the windows this build includes.

#include <cstdio>
#include <optional>
#include <string>

#include <QApplication>
#include <QIcon>

#include "app/application.hpp"
#include "app/first_paint_probe.hpp"
#include "app/key_time_probe.hpp"
#include "app/placeholder_window.hpp"
#include "app/process_start.hpp"
#include "app/qt_platform.hpp"
#include "app/session_buses.hpp"
#include "app/single_instance.hpp"
#include "app/termination_signals.hpp"
#include "app/theme.hpp"
#include "app/window_factories.hpp"
#include "app/widget_map.hpp"
#include "app/window_activation.hpp"
#include "app/window_registry.hpp"
#include "base/executor.hpp"

int main(int argc, char** argv) {
    // The launcher's activation token is this process's alone: out of the environment before Qt
    // reads it (app/window_activation); the programs we start never get it (base/user_environment).
    const std::optional<std::string> launchToken = velk::WindowActivation::takeLaunchToken();
    // Before Qt and any thread start, as the benchmarks do too (app/process_start).
    velk::startProcess();
    // X11 on a Wayland session that offers it, unless the user named a platform (app/qt_platform).
    velk::qt_platform::Arguments arguments(argc, argv);
    QApplication qtApplication(arguments.count(), arguments.values());
    QCoreApplication::setOrganizationName(QStringLiteral("Velk"));
    QCoreApplication::setApplicationName(QStringLiteral("kestova"));
    QGuiApplication::setDesktopFileName(QStringLiteral("kestova"));
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/kestova/kestova.svg")));
    velk::Theme::apply(qtApplication);
    // Qt 6.4's bridge registers on a bus given in AT_SPI_BUS_ADDRESS only when helped (app/session_buses).
    velk::session_buses::registerOnGivenBus();
    velk::WindowActivation::prepare();

    velk::SingleInstance instance(velk::defaultDataFolder());
    const velk::LockState lock = instance.acquire();
    const velk::RaiseAnswer raiseAnswer = lock == velk::LockState::heldByOther
                                         ? instance.askRunningInstanceToRaise(5000, launchToken.value_or(""))
                                         : velk::RaiseAnswer::none;
    const velk::LaunchOutcome outcome = velk::launchOutcome(lock, raiseAnswer, instance.lockError());
    if (!outcome.run) {
        if (!outcome.message.empty()) std::fprintf(stderr, "%s\n", outcome.message.c_str());
        return outcome.exitCode;
    }

    int exitCode = 0;
    {
        velk::Application application(velk::Application::Options{});
#ifdef VELK_HAVE_DIRECTOR_WINDOW
        application.registerWindow(velk::WindowID::director, velk::createDirectorWindow);
#else
        application.registerWindow(velk::WindowID::director, [](velk::AppServices&) {
            return velk::createPlaceholderWindow(QStringLiteral("Kestova Director"), velk::Theme::directorWindowSize);
        });
#endif
#ifdef VELK_HAVE_LIBRARY_WINDOW
        application.registerWindow(velk::WindowID::library, velk::createLibraryWindow);
#else
        application.registerWindow(velk::WindowID::library, [](velk::AppServices&) {
            return velk::createPlaceholderWindow(QStringLiteral("Kestova Library"), velk::Theme::libraryWindowSize);
        });
#endif
        // The later launch is told whether the Director came forward, within 2 s (it waits 5).
        instance.listen([&application](const std::string& activationToken, velk::SingleInstance::Answer answer) {
            velk::WindowActivation::useTokenNext(activationToken);
            QWidget* director = application.windows().openWindow(velk::WindowID::director);
            if (!director) return answer(false);
            velk::WindowActivation::whenActive(*director, std::move(answer));
        });
        // The first window opened is activated with the launcher's token.
        if (launchToken) velk::WindowActivation::useTokenNext(*launchToken);
        velk::quitOnTerminationSignals(&application, [&application] { application.quit(); });
        velk::startWidgetMapIfAsked(&application);
        velk::reportFirstPaintIfAsked(application);
        velk::reportKeyTimesIfAsked(&qtApplication);
        application.launch();
        exitCode = qtApplication.exec();
    }
    // The library is saved and the services are gone: the next launch may run from here on.
    instance.release();
    // The services have cancelled their work; let the workers end before static destruction, so
    // none is still inside curl or OpenSSL when the process exits.
    velk::shutdownWorkers();
    return exitCode;
}
