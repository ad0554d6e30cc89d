#include "ui/application.h"
#include "ui/form.h"
#include "ui/std_controls.h"
#include "ui/timer.h"

#include "platform/child_process_support.h"
#include "ui_test_support.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <QApplication>
#include <QThread>

#include <atomic>
#include <stdexcept>
#include <thread>

using namespace ui;
using namespace uitest;

namespace {

constexpr UINT WM_TERMINALUPDATE = 1357;
constexpr UINT WM_FINISH = 0x0401;
constexpr UINT WM_RAISE = 0x0402;

// A form that answers its messages and notes the thread it ran them on.
class EchoForm : public TForm {
public:
    std::atomic<int> handled{0};
    std::atomic<bool> onGuiThread{true};

protected:
    LRESULT WndProc(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (QThread::currentThread() != qApp->thread()) onGuiThread = false;
        switch (msg) {
        case WM_TERMINALUPDATE:
            ++handled;
            return static_cast<LRESULT>(wParam) + 1;
        case WM_FINISH:
            SetModalResult(static_cast<int>(wParam));
            return 7;
        case WM_RAISE:
            throw std::runtime_error("handler failed");
        default:
            return TForm::WndProc(msg, wParam, lParam);
        }
    }
};

TEST(Forms, ShowHideAndHandles) {
    TForm form;
    TButton button(&form, "x");
    EXPECT_NE(form.Handle(), 0u);
    EXPECT_NE(button.Handle(), 0u);
    EXPECT_NE(form.Handle(), button.Handle());
    EXPECT_TRUE(platform::IsWindow(form.Handle()));
    EXPECT_FALSE(form.Visible());
    EXPECT_TRUE(button.Visible()) << "a control is visible on a form that is not shown yet";
    form.Show();
    EXPECT_TRUE(form.Visible());
    form.Hide();
    EXPECT_FALSE(form.Visible());
    HWND handle = 0;
    {
        TForm gone;
        handle = gone.Handle();
    }
    EXPECT_FALSE(platform::IsWindow(handle));
}

TEST(Forms, ModalResultFromTimerAndButton) {
    TForm form;
    TTimer timer;
    timer.SetInterval(10);
    timer.OnTimer = [&] { form.SetModalResult(mrOk); };
    timer.SetEnabled(true);
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_FALSE(form.Visible());
    EXPECT_FALSE(form.Modal());

    // A button with a modal result, inside a group box: the result reaches the form.
    TGroupBox group(&form, "g");
    TButton ok(&group, "ok");
    ok.SetModalResult(mrOk);
    int clicks = 0;
    ok.OnClick = [&] { ++clicks; };
    timer.OnTimer = [&] { ok.Click(); };
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_EQ(clicks, 1);

    // Closing a modal form answers mrCancel.
    timer.OnTimer = [&] { form.Close(); };
    EXPECT_EQ(form.ShowModal(), mrCancel);

    // A handler that raises ends the loop, of an inner form first, and its ShowModal throws it to
    // whoever opened the form; Qt sees none of it.
    TForm inner;
    TTimer click;
    click.SetInterval(10);
    click.OnTimer = [&] {
        if (inner.Modal()) ok.Click();
    };
    click.SetEnabled(true);
    ok.OnClick = [&] { throw std::bad_alloc(); };
    timer.OnTimer = [&] { inner.ShowModal(); };
    TTimer deadline;
    deadline.SetInterval(DeadlineMs);
    deadline.OnTimer = [&] {
        click.SetEnabled(false);
        timer.SetEnabled(false);
        inner.Close();
        form.Close();
    };
    deadline.SetEnabled(true);
    EXPECT_THROW(form.ShowModal(), std::bad_alloc);
    EXPECT_FALSE(form.Modal());
    EXPECT_FALSE(form.Visible());
}

TEST(Forms, AnAnswerWhoseModalWindowNeverCameFailsAndNeverFiresLater) {
    int lost = 0, answered = 0;
    EXPECT_NONFATAL_FAILURE({ const auto answer = WhenModal([&](QWidget*) { ++lost; }); },
                            "no modal window came");
    // The next modal window gets its own answer only.
    TForm form;
    const auto answer = WhenModal([&](QWidget*) {
        ++answered;
        form.SetModalResult(mrOk);
    });
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(answered, 1);
}

TEST(Forms, CloseQueryCanVeto) {
    TForm form;
    bool allow = false;
    int asked = 0;
    form.OnCloseQuery = [&](bool& canClose) {
        ++asked;
        canClose = allow;
    };
    form.Show();
    form.Close();
    EXPECT_TRUE(form.Visible());
    EXPECT_EQ(platform::SendMessage(form.Handle(), platform::WM_CLOSE, 0, 0), 0);
    EXPECT_TRUE(form.Visible());
    EXPECT_EQ(asked, 2);

    // A vetoed modal result leaves the loop running; the next attempt, allowed, ends it.
    TTimer timer;
    timer.SetInterval(10);
    int ticks = 0;
    timer.OnTimer = [&] {
        ++ticks;
        if (ticks == 2) allow = true;
        form.SetModalResult(mrOk);
    };
    timer.SetEnabled(true);
    EXPECT_EQ(form.ShowModal(), mrOk);
    EXPECT_EQ(ticks, 2);
    timer.SetEnabled(false);

    // OnClose may keep the form open after the query allowed it.
    form.Show();
    form.OnClose = [](TCloseAction& action) { action = TCloseAction::None; };
    form.Close();
    EXPECT_TRUE(form.Visible());
    form.OnClose = nullptr;
    form.Close();
    EXPECT_FALSE(form.Visible());
}

TEST(FormMessages, SentFromAWorkerAreHandledOnTheGuiThreadInsideRun) {
    EchoForm form;
    form.Show();
    std::atomic<LRESULT> answer{0};
    std::atomic<LRESULT> raised{-1};
    Worker worker([&] {
        answer = platform::SendMessage(form.Handle(), WM_TERMINALUPDATE, 41, 0);
        raised = platform::SendMessage(form.Handle(), WM_RAISE, 0, 0);
        // Closing the main form by a post ends Run.
        platform::PostMessage(form.Handle(), platform::WM_CLOSE, 0, 0);
    });
    TTimer deadline;
    deadline.SetInterval(DeadlineMs);
    deadline.OnTimer = [] { Application().Terminate(); };
    deadline.SetEnabled(true);
    Application().Run(form);
    worker.Join();
    EXPECT_EQ(answer.load(), 42);
    EXPECT_EQ(raised.load(), 0) << "a procedure that raises answers 0 and the loop goes on";
    EXPECT_EQ(form.handled.load(), 1);
    EXPECT_TRUE(form.onGuiThread.load());
    EXPECT_FALSE(form.Visible()) << "closed by the request, not by the deadline";
}

TEST(FormMessages, SentFromAWorkerAreHandledDuringAModalLoop) {
    EchoForm form;
    std::atomic<LRESULT> answers{0};
    Worker worker([&] {
        for (int i = 0; i < 50; ++i)
            answers += platform::SendMessage(form.Handle(), WM_TERMINALUPDATE, 1, 0);
        answers += platform::SendMessage(form.Handle(), WM_FINISH, mrOk, 0);
    });
    TTimer deadline;
    deadline.SetInterval(DeadlineMs);
    deadline.OnTimer = [&] { form.SetModalResult(mrCancel); };
    deadline.SetEnabled(true);
    EXPECT_EQ(form.ShowModal(), mrOk);
    worker.Join();
    EXPECT_EQ(answers.load(), 50 * 2 + 7);
    EXPECT_EQ(form.handled.load(), 50);
    EXPECT_TRUE(form.onGuiThread.load());
}

// Windows are made on the application's thread only.
TEST(Application, WindowsBelongToItsThread) {
    EnsureApplication();
    EXPECT_TRUE(OnApplicationThread());
    bool elsewhere = true;
    std::thread([&] { elsewhere = OnApplicationThread(); }).join();
    EXPECT_FALSE(elsewhere);
}

TEST(Application, TerminateBeforeRunReturnsAtOnceAndOnlyOnce) {
    TForm form;
    Application().Terminate();
    Application().Run(form);
    EXPECT_FALSE(Application().Terminated());
    EXPECT_EQ(Application().MainForm(), nullptr);
    // The next loop runs until something ends it.
    TTimer timer;
    timer.SetInterval(10);
    int ticks = 0;
    timer.OnTimer = [&] {
        if (++ticks == 3) form.Close();
    };
    timer.SetEnabled(true);
    Application().Run(form);
    EXPECT_EQ(ticks, 3);
}

// A server-like child: a hidden main form whose close query is asked when another process requests
// the close.
struct ChildReport {
    HWND form;
};

int RunClosableForm() {
    TForm form;
    int asked = 0;
    form.OnCloseQuery = [&](bool& canClose) {
        ++asked;
        canClose = true;
    };
    if (!testchild::Write(testchild::ChildOut, ChildReport{form.Handle()})) return 1;
    TTimer deadline;
    deadline.SetInterval(60000);
    deadline.OnTimer = [] { Application().Terminate(); };
    deadline.SetEnabled(true);
    Application().Run(form);
    return asked == 1 ? 0 : 2;
}

const bool registered = testchild::RegisterTestChild("closable-form", RunClosableForm);

TEST(FormMessages, CloseRequestFromAnotherProcessClosesTheForm) {
    ASSERT_FALSE(registered);
    testchild::TestChild child("closable-form");
    ASSERT_TRUE(child.Started());
    ChildReport report{};
    ASSERT_TRUE(child.Receive(report));
    EXPECT_TRUE(platform::IsWindow(report.form));
    ASSERT_TRUE(platform::PostMessage(report.form, platform::WM_CLOSE, 0, 0));
    ASSERT_TRUE(child.WaitExited(DeadlineMs));
    EXPECT_EQ(child.Reap(), 0);
    EXPECT_FALSE(platform::IsWindow(report.form));
}

} // namespace
