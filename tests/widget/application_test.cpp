#include <gtest/gtest.h>

#include <QMessageBox>
#include <QStyle>
#include <QTest>
#include <QTimer>

#include <stdexcept>

#include "ui/application.h"

TEST(ApplicationTitle, FileNameWithoutFolderOrExtensionFirstLetterKeptRestLowered) {
    const std::vector<std::pair<QString, QString>> cases = {
        {"quenby", "quenby"},
        {"/usr/local/bin/quenby", "quenby"},
        {"build/bin/QUENBY.exe", "Quenby"},
        {"qUeNbY-Board", "quenby-board"},
        {"x", "x"},
        {"X", "X"},
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
    EXPECT_EQ(shownTitle, "quenby_widget_tests");
    EXPECT_EQ(shownIcon, QMessageBox::Critical);
    EXPECT_EQ(buttons, 1);
}

// The test binary's main passes "-reverse -style windows" after the program name.
TEST(TApplication, TakesNoOptionsFromTheCommandLine) {
    EXPECT_EQ(QApplication::arguments().size(), 1);
    EXPECT_EQ(QApplication::layoutDirection(), Qt::LeftToRight);
    EXPECT_NE(QApplication::style()->name().toLower(), "windows");
}
