// Takes the README's pictures of the agent: its status menu under a panel, the sign-in dialog,
// the registration dialog and the status window. Not a test: scripts/screenshots runs it under
// Xvfb with SPINFORGE_SCREENSHOTS naming the folder for the PNGs; ctest never lists it.
#include "shell/ShellFixture.h"
#include "shell/StatusWindow.h"
#include "shell/Symbols.h"

#include <QComboBox>
#include <QPainter>

using namespace testing_support;
using spinforge::Alert;

namespace {

class Screenshots : public ShellFixture {
protected:
    void SetUp() override {
        folder = qEnvironmentVariable("SPINFORGE_SCREENSHOTS");
        if (folder.isEmpty()) GTEST_SKIP() << "set SPINFORGE_SCREENSHOTS to a folder to take the pictures";
    }
    void save(const QPixmap& picture, const QString& name) {
        const QString path = folder + u'/' + name;
        ASSERT_TRUE(picture.save(path)) << path.toStdString();
        std::printf("wrote %s\n", qPrintable(path));
    }
    // Lets the window system paint what was just shown.
    static void settle() {
        for (int i = 0; i < 20; ++i) QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    // The menu as it opens under the tray icon: a strip of dark panel with the icon, the menu below.
    QPixmap menuUnderPanel(QMenu& menu) {
        menu.popup(QPoint(40, 40));
        settle();
        const QPixmap opened = menu.grab();
        menu.hide();
        const int panel = 28;
        QPixmap picture(opened.width() + 24, opened.height() + panel + 12);
        picture.fill(QColor(0xf4, 0xf4, 0xf4));
        QPainter painter(&picture);
        painter.fillRect(0, 0, picture.width(), panel, QColor(0x24, 0x24, 0x24));
        const QPixmap icon = spinforge::Symbols::trayIcon(delegate().statusItem()->symbol()).pixmap(22, 22);
        painter.drawPixmap(12 + 4, (panel - 22) / 2, icon);
        painter.drawPixmap(12, panel, opened);
        return picture;
    }

    QString folder;
};

TEST_F(Screenshots, TakeReadmeScreenshots) {
    serve({{"Deep House/Kerri Chandler - Rain.mp3", std::string(90000, 'r')},
           {"Deep House/Larry Heard - Can You Feel It.mp3", std::string(80000, 'l')},
           {"Techno/Robert Hood - Minus.mp3", std::string(70000, 'h')}});
    addDrive(QStringLiteral("DJSTICK"));
    addDrive(QStringLiteral("BACKUP"), std::nullopt);
    delegate().applicationDidFinishLaunching();
    ASSERT_TRUE(waitForStatus(QStringLiteral("3 tracks copied to USB")));
    save(menuUnderPanel(*delegate().statusItem()->menu()), QStringLiteral("status-menu.png"));

    alerts.then([&](Alert& alert) {
        // The address scripts/run offers, not this run's port: the picture stays the same.
        fields(alert)[0]->setText(QStringLiteral("http://127.0.0.1:8787"));
        fields(alert)[1]->setText(QStringLiteral("dj@example.com"));
        settle();
        save(alert.grab(), QStringLiteral("sign-in.png"));
        alert.press(QStringLiteral("Cancel"));
    });
    delegate().showSignIn();

    alerts.then([&](Alert& alert) {
        settle();
        save(alert.grab(), QStringLiteral("register-usb.png"));
        alert.press(QStringLiteral("Cancel"));
    });
    delegate().registerUSB();

    spinforge::StatusWindow& window = delegate().statusItem()->window();
    window.show();
    settle();
    save(window.grab(), QStringLiteral("status-window.png"));
    EXPECT_TRUE(alerts.waitUntilAnswered());
}

}  // namespace
