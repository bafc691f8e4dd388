#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTest>
#include <QTimer>

#include <stdexcept>

#include "ui/application.h"

TEST(ApplicationTitle, FileNameWithoutFolderOrExtensionCapitalised) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"quenby", "Quenby"},
        {"/usr/local/bin/quenby", "Quenby"},
        {"build/bin/QUENBY.exe", "Quenby"},
        {"qUeNbY-Board", "Quenby-board"},
        {"x", "X"},
        {"", ""},
    };
    for (const auto& [path, title] : cases)
        EXPECT_EQ(ApplicationTitle(path), title) << path.toStdString();
}

TEST(ExceptionDialogText, AppendsAFullStopAfterCharactersAboveIt) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"", ""},
        {"Cannot create timer", "Cannot create timer."},
        {"Error 42", "Error 42."},
        {"Done.", "Done."},
        {"(see log)", "(see log)"},
        {"ends in space ", "ends in space "},
        {"path/", "path/."},
        {QString::fromUtf8("ポートエラー"), QString::fromUtf8("ポートエラー.")},
        {"dash-", "dash-"},
    };
    for (const auto& [message, text] : cases)
        EXPECT_EQ(ExceptionDialogText(message), text) << message.toStdString();
}

TEST(ExceptionDialog, AnExceptionEscapingAHandlerIsShownAndTheLoopGoesOn) {
    QString shownText, shownTitle;
    QMessageBox::Icon shownIcon = QMessageBox::NoIcon;
    int buttons = 0;
    bool afterwards = false;
    QTimer::singleShot(0, [] { throw std::runtime_error("Port failure"); });
    QTimer::singleShot(50, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        ASSERT_NE(box, nullptr);
        shownText = box->text();
        shownTitle = box->windowTitle();
        shownIcon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        box->accept();
    });
    QTimer::singleShot(100, [&] { afterwards = true; });
    for (int i = 0; i < 300 && !afterwards; ++i) QTest::qWait(10);
    ASSERT_TRUE(afterwards);
    EXPECT_EQ(shownText, "Port failure.");
    EXPECT_EQ(shownTitle, "Quenby_widget_tests");
    EXPECT_EQ(shownIcon, QMessageBox::Critical);
    EXPECT_EQ(buttons, 1);
}
