#pragma once

#include <QWidget>

#include "measure/channel_statistics.h"
#include "measure/sample_record.h"
#include "platform/time_of_day.h"
#include "ui/form_controls.h"

class QApplication;
class QFileDialog;
class QGroupBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollArea;
class QTimer;

// The main window. It holds one member per control, the event handlers, and, inherited, the six
// channel statistics (ad0Value, ad0Max, ad0Min, ad1Value, ad1Max, ad1Min).
class TForm1 : public QWidget, public measure::ChannelStatistics {
    Q_OBJECT
  public:
    // Builds the layout, opens COM2, then resets both channels. Hidden until shown.
    explicit TForm1(QApplication* owner);
    ~TForm1() override;

    QPushButton* Button2;
    QTimer* Timer1;
    QLineEdit* Edit1;
    TLabel* Label1;
    TLabel* label2;
    QFileDialog* OpenDialog1;
    QGroupBox* SIO_SELECT;
    TLabel* Label3;
    TMemo* Memo1;
    QRadioButton* RadioButton3;
    QRadioButton* RadioButton4;
    QPushButton* Button1;
    QRadioButton* RadioButton1;
    QPushButton* Button3;
    QRadioButton* RadioButton2;
    QPushButton* Button4;
    QLineEdit* Edit4;
    QLineEdit* Edit2;
    QLineEdit* Edit5;
    QGroupBox* ad0;
    TLabel* max0;
    TLabel* min0;
    QLineEdit* Edit6;
    TLabel* diffre0;
    QPushButton* CLR0;
    QGroupBox* ad1;
    TLabel* max1;
    QLineEdit* Edit7;
    QLineEdit* Edit8;
    QLineEdit* Edit9;
    TLabel* min1;
    TLabel* differ1;
    QPushButton* CLR1;

    // The edit control that shows a display: Edit4 the last record; Edit2, Edit5 and Edit6
    // channel 0's maximum, minimum and difference; Edit7, Edit8 and Edit9 channel 1's.
    QLineEdit* EditFor(measure::Display display) const;

  public slots:
    void Timer1Timer();
    void Button2Click();
    void Button1Click();
    void Button4Click();
    void Button3Click();
    void RadioButton3Click();
    void RadioButton4Click();
    void RadioButton1Click();
    void RadioButton2Click();
    void CLR0Click();
    void CLR1Click();

  protected:
    void closeEvent(QCloseEvent* event) override;

  private:
    void BuildLayout();
    void BindHandlers();
    void SelectPortRow(std::size_t row);
    // Selects the port whose row in serial::kPortTable names this button.
    void SelectPortOf(const QRadioButton* button);
    void SendTestByte(unsigned char byte, const char* sentText, const char* failedText);

    QScrollArea* scroll_;
    QWidget* client_;
    // The locale's time format, read once the application has set the locale.
    TimeFormat timeFormat_ = LocaleTimeFormat();
    // What the clock shows: the window keeps it rather than reading Edit1 back.
    QString clockText_;
    int transfersRunning_ = 0;
    bool closeRequested_ = false;
};

// The one main window, set while it exists.
extern TForm1* Form1;
