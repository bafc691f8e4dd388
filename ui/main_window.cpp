#include "ui/main_window.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileDialog>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "measure/receive_poll.h"
#include "platform/beep.h"
#include "platform/time_of_day.h"
#include "serial/port_io.h"
#include "serial/serial_port.h"
#include "transmit/text_file_reader.h"

TForm1* Form1 = nullptr;

namespace {

// While a write waits for room on a full line, pending events run between tries, so the window
// stays live; the write then goes to whatever port is selected by that time.
void KeepWindowLive() {
    QApplication::processEvents(QEventLoop::AllEvents);
}
const serial::WaitHook kKeepWindowLive = KeepWindowLive;

const char* const kTransferring = "ファイル転送中です";
const char* const kTransferDone = "ファイル転送終了しました";
const char* const kTransferFailed = "ファイル転送に失敗しました";
const char* const kFileNotOpened = "ファイルを開けませんでした";

QString OpenFailedText(const std::string& port) {
    return QString::fromStdString(port) + QString::fromUtf8("を開けませんでした");
}

QString OpenedText(const std::string& port) {
    return QString::fromStdString(port) + QString::fromUtf8("を開きました");
}

}  // namespace

TForm1::TForm1(QApplication*) : QWidget(nullptr) {
    Form1 = this;
    SetBeepSound(&QApplication::beep);
    setAttribute(Qt::WA_QuitOnClose);
    BuildLayout();
    if (const auto failure = serial::OpenStartupPort())
        Label3->SetCaption(OpenFailedText(failure->port));
    measure::ResetChannel(*this, measure::Channel::Ch0);
    measure::ResetChannel(*this, measure::Channel::Ch1);
}

TForm1::~TForm1() {
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::BindHandlers() {
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button4, &QPushButton::clicked, this, &TForm1::Button4Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
    connect(CLR0, &QPushButton::clicked, this, &TForm1::CLR0Click);
    connect(CLR1, &QPushButton::clicked, this, &TForm1::CLR1Click);
    // Each port button of the port table runs its handler, <button>Click, only when it goes
    // from unchecked to checked.
    for (const serial::PortRow& row : serial::kPortTable) {
        auto* button = client_->findChild<QRadioButton*>(QLatin1StringView(row.radioButton));
        const QByteArray handler = QByteArray(row.radioButton) + "Click";
        if (!button || metaObject()->indexOfSlot(handler + "()") < 0)
            qFatal("port table row %s has no button or handler", row.radioButton);
        connect(button, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (checked) QMetaObject::invokeMethod(this, handler.constData(), Qt::DirectConnection);
        });
    }
}

QLineEdit* TForm1::EditFor(measure::Display display) const {
    using measure::Role;
    if (display.role == Role::LastRecord) return Edit4;
    const bool ch0 = display.channel == measure::Channel::Ch0;
    switch (display.role) {
        case Role::Maximum:
            return ch0 ? Edit2 : Edit7;
        case Role::Minimum:
            return ch0 ? Edit5 : Edit8;
        default:
            return ch0 ? Edit6 : Edit9;
    }
}

void TForm1::Timer1Timer() {
    const measure::PollResult poll = measure::PollPort(*this);
    if (poll.accepted) {
        Memo1->AddLine(DisplayText(poll.chunkText));
        for (const auto& update : poll.updates)
            EditFor(update.display)->setText(DisplayText(update.text));
    }
    // Rewriting an unchanged text would cost a repaint every tick for nothing.
    const QString now = QString::fromLocal8Bit(LocalTimeOfDayText(timeFormat_));
    if (now != clockText_) {
        clockText_ = now;
        Edit1->setText(now);
    }
}

void TForm1::Button3Click() {
    Memo1->ClearLines();
}

void TForm1::CLR0Click() {
    measure::ResetChannel(*this, measure::Channel::Ch0);
}
void TForm1::CLR1Click() {
    measure::ResetChannel(*this, measure::Channel::Ch1);
}

void TForm1::SelectPortRow(std::size_t row) {
    const auto failure = serial::SelectPort(row);
    const std::string port = serial::kPortTable[row].caption;
    Label3->SetCaption(failure ? OpenFailedText(port) : OpenedText(port));
}

void TForm1::SelectPortOf(const QRadioButton* button) {
    const QString name = button->objectName();
    for (std::size_t row = 0; row < serial::kPortTable.size(); ++row) {
        if (name == QLatin1StringView(serial::kPortTable[row].radioButton))
            return SelectPortRow(row);
    }
}

void TForm1::RadioButton3Click() {
    SelectPortOf(RadioButton3);
}
void TForm1::RadioButton4Click() {
    SelectPortOf(RadioButton4);
}
void TForm1::RadioButton1Click() {
    SelectPortOf(RadioButton1);
}
void TForm1::RadioButton2Click() {
    SelectPortOf(RadioButton2);
}

void TForm1::SendTestByte(unsigned char byte, const char* sentText, const char* failedText) {
    Label3->SetCaption(QString::fromUtf8(sentText));
    MessageBeep(MB_OK);
    // One byte in one write. While a full line has no room for it, the window stays live as in a
    // transfer: a tick that waited here would find two records queued and read them out of step.
    if (!serial::Write(&byte, 1, kKeepWindowLive))
        Label3->SetCaption(QString::fromUtf8(failedText));
}

void TForm1::Button1Click() {
    SendTestByte(0x55, "0x55データ送信", "0x55データ送信失敗");
}
void TForm1::Button4Click() {
    SendTestByte(0xAA, "0xAAデータ送信", "0xAAデータ送信失敗");
}

void TForm1::Button2Click() {
    if (OpenDialog1->exec() != QDialog::Accepted || OpenDialog1->selectedFiles().isEmpty()) return;
    MessageBeep(MB_OK);
    Label3->SetCaption(QString::fromUtf8(kTransferring));
    const std::string path = OpenDialog1->selectedFiles().first().toStdString();

    transmit::TextFileReader file(path);
    if (!file.IsOpen()) {
        Label3->SetCaption(QString::fromUtf8(kFileNotOpened));
        return;
    }
    ++transfersRunning_;
    bool failed = false;
    while (const auto w = file.NextWrite()) {
        // A failed write ends the transfer: the board never gets a file with a hole in it.
        if (!serial::Write(w->bytes, w->size, kKeepWindowLive)) {
            failed = true;
            break;
        }
        QApplication::processEvents(QEventLoop::AllEvents);
    }
    Label3->SetCaption(QString::fromUtf8(failed ? kTransferFailed : kTransferDone));
    file.Close();
    MessageBeep(MB_OK);
    --transfersRunning_;
    // A close asked for during the transfer takes effect once the outermost one has ended.
    if (transfersRunning_ == 0 && closeRequested_) QTimer::singleShot(0, this, &QWidget::close);
}

void TForm1::closeEvent(QCloseEvent* event) {
    if (transfersRunning_ > 0) {
        closeRequested_ = true;
        event->ignore();
        return;
    }
    event->accept();
}
