// Whether a QTimer's handler runs again inside the nested loop of a modal message box that the
// handler itself opened. The pollers' pause while their message is open rests on this.
#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Ticks every 10 ms; the first tick opens a modal box that closes itself after 200 ms (twenty
// intervals), then stops the timer. With SetIntervalEachTick every tick first sets the interval
// again, as the run poller does with Timer1. Gives the ticks that came while the box was open.
int TicksInsideTheBox(bool SetIntervalEachTick)
{
    QTimer Timer;
    Timer.setInterval(10);
    bool Open = false;
    int Inside = 0;
    QObject::connect(&Timer, &QTimer::timeout, [&] {
        if (SetIntervalEachTick)
            Timer.setInterval(10);
        if (Open) {
            ++Inside;
            return;
        }
        Open = true;
        QMessageBox Box(QMessageBox::Information, "Tick", "A tick's message.");
        QTimer::singleShot(200, &Box, [&Box] { Box.done(QMessageBox::Ok); });
        Box.exec();
        Open = false;
        Timer.stop();
    });
    Timer.start();
    for (int i = 0; i < 500 && Timer.isActive(); ++i) {
        QApplication::processEvents();
        ::usleep(2000);
    }
    EXPECT_FALSE(Timer.isActive()) << "the box never closed";
    return Inside;
}

// A timer left alone is not re-entered: the event dispatcher holds back a timer whose handler
// is still running.
TEST(TimerReentry, ATimerIsNotReenteredFromItsOwnMessageBox)
{
    EXPECT_EQ(TicksInsideTheBox(false), 0);
}

// Setting the interval restarts the timer under a new identity, which the dispatcher does not
// hold back: its ticks come inside the box. The run poller sets it at every tick.
TEST(TimerReentry, ATimerWhoseIntervalIsSetInItsHandlerIsReentered)
{
    EXPECT_GE(TicksInsideTheBox(true), 5);
}

}  // namespace
