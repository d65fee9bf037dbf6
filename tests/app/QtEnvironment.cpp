// Every test of this suite runs with one QApplication, on the offscreen platform unless a display
// is asked for explicitly, and on the null sound device.
#include <QApplication>
#include <gtest/gtest.h>
#include <memory>

namespace {

class TQtEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        // The windows play into nothing, as asked, whatever sound the machine has.
        qputenv("PELBRISK_AUDIO", "null");
        // The windows made here publish themselves and ask for hot keys on the session bus; on
        // the desktop the tests run on, that would bind real shortcuts (the portal may even ask
        // its user). Tests that want a bus start a private one.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/pelbrisk-tests");
        application_ = std::make_unique<QApplication>(argc_, argv_);
        QApplication::setApplicationName("pelbrisk");
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[10] = "app_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

const auto* const kEnvironment = ::testing::AddGlobalTestEnvironment(new TQtEnvironment);

} // namespace
