#include "ui/form.h"

#include "ui/application.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QScreen>
#include <QStyle>
#include <QtDebug>

#include <utility>
#include <vector>

#include "platform/thread.h"

namespace ui {
namespace {

// The form whose modal loop runs innermost; a handler's exception ends that loop. Windows and their
// loops live on the application's thread alone, so one pointer serves.
TForm* InnermostModal = nullptr;

// The window system's close button goes the same way as a close request.
class FormWidget : public QWidget {
public:
    explicit FormWidget(TForm& form) : form_(form) {
        qApp->installEventFilter(this);
        // Every control of the form hears where the focus went.
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget*, QWidget* now) {
            if (now != nullptr && now->window() == this)
                RunHandler([this] { form_.Broadcast(CM_FOCUSCHANGED, 0, form_.ActiveControl()); });
        });
    }

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        RunHandler([this] { form_.Close(); });
    }

    // Enter and Escape go to the form's controls as dialog keys before the focused control sees them,
    // and a character typed with Alt as a dialog character; a multi-line editor keeps Enter.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::KeyPress || !watched->isWidgetType()) return false;
        auto* widget = static_cast<QWidget*>(watched);
        if (widget->window() != this) return false;
        auto* key = static_cast<QKeyEvent*>(event);
        const int shift = ShiftStateOf(key->modifiers());
        LRESULT handled = 0;
        RunHandler([&] {
            if (key->key() == Qt::Key_Escape) {
                handled = form_.Broadcast(CM_DIALOGKEY, VK_ESCAPE, shift);
            } else if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                auto* editor = qobject_cast<QPlainTextEdit*>(widget);
                if (editor == nullptr || editor->isReadOnly())
                    handled = form_.Broadcast(CM_DIALOGKEY, VK_RETURN, shift);
            } else if ((shift & ssAlt) != 0 && key->text().size() == 1) {
                const std::string typed = FromQt(key->text());
                if (typed.size() == 1)
                    handled = form_.Broadcast(CM_DIALOGCHAR, static_cast<uint8_t>(typed[0]), shift);
            }
        });
        if (handled == 0) return false;
        event->accept();
        return true;
    }

private:
    TForm& form_;
};

} // namespace

TForm::TForm() : TControl(MakeWidget<FormWidget>(*this), nullptr) {
    QFont font(QString::fromLatin1(FormFontFamily));
    font.setPixelSize(FormFontPixels);
    font.setStyleHint(QFont::SansSerif);
    Widget()->setFont(font);
}

TForm::~TForm() {
    if (modalLoop_ != nullptr) modalLoop_->exit();
    Application().ForgetForm(this);
}

std::string TForm::Caption() const {
    return Widget() ? FromQt(Widget()->windowTitle()) : std::string();
}

void TForm::SetCaption(const std::string& caption) {
    if (Widget()) Widget()->setWindowTitle(ToQt(caption));
}

void TForm::SetClientSize(int width, int height) {
    if (Widget()) Widget()->resize(width, height);
}

void TForm::SetFixedSize(bool fixed) {
    QWidget* w = Widget();
    if (w == nullptr) return;
    if (fixed) {
        w->setFixedSize(w->size());
    } else {
        w->setMinimumSize(0, 0);
        w->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    }
}

void TForm::CenterOnScreen() {
    QWidget* w = Widget();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (w == nullptr || screen == nullptr) return;
    const QRect area = screen->availableGeometry();
    w->move(area.x() + (area.width() - w->width()) / 2, area.y() + (area.height() - w->height()) / 2);
}

int TForm::MaxClientHeight() const {
    const QWidget* w = Widget();
    const QScreen* screen = QGuiApplication::primaryScreen();
    if (w == nullptr || screen == nullptr) return QWIDGETSIZE_MAX;
    int frame = w->frameGeometry().height() - w->height();
    // Until the form has been shown its frame is not known: room for a title bar is kept.
    if (frame <= 0)
        frame = w->style()->pixelMetric(QStyle::PM_TitleBarHeight) +
                2 * w->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    return screen->availableGeometry().height() - frame;
}

void TForm::SetVisible(bool visible) {
    QWidget* w = Widget();
    if (w == nullptr) return;
    w->setVisible(visible);
    // Without a display there is no stacking to change, and the offscreen platform only complains.
    if (visible && QGuiApplication::platformName() != QLatin1String("offscreen")) {
        w->raise();
        w->activateWindow();
    }
}

int TForm::ShowModal() {
    QWidget* w = Widget();
    if (w == nullptr || modalLoop_ != nullptr) return mrNone;
    modalResult_ = mrNone;
    modalEnded_ = false;
    w->setWindowModality(Qt::ApplicationModal);
    QEventLoop loop;
    // From the show to the hide, what a handler raises belongs to this form; both are restored however
    // the loop ends.
    struct TRestore {
        TForm* outer;
        QEventLoop*& loop;
        ~TRestore() {
            InnermostModal = outer;
            loop = nullptr;
        }
    };
    modalLoop_ = &loop;
    const TRestore restore{std::exchange(InnermostModal, this), modalLoop_};
    SetVisible(true);
    // Window messages reach the form meanwhile through the application's pump.
    while (!modalEnded_ && !Application().Terminated() && Widget() != nullptr)
        loop.exec();
    modalLoop_ = nullptr;
    if (Widget() != nullptr) {
        w->hide();
        w->setWindowModality(Qt::NonModal);
    }
    if (raised_) std::rethrow_exception(std::exchange(raised_, nullptr));
    if (modalResult_ == mrNone) modalResult_ = mrCancel; // the application ended under it
    return modalResult_;
}

void HandlerRaised() {
    if (TForm* form = InnermostModal) {
        if (!form->raised_) form->raised_ = std::current_exception();
        form->EndModal();
        return;
    }
    try {
        throw;
    } catch (const std::exception& e) {
        qWarning("event handler raised: %s", e.what());
    } catch (...) {
        qWarning("event handler raised");
    }
}

void TForm::SetModalResult(int result) {
    modalResult_ = result;
    if (modalLoop_ == nullptr || result == mrNone) return;
    TCloseAction action = TCloseAction::Hide;
    if (CloseQuery()) {
        if (OnClose) OnClose(action);
    } else {
        action = TCloseAction::None;
    }
    if (action == TCloseAction::None) {
        modalResult_ = mrNone;
        return;
    }
    EndModal();
}

void TForm::EndModal() {
    modalEnded_ = true;
    if (modalLoop_ != nullptr) modalLoop_->exit();
}

bool TForm::CloseQuery() {
    bool canClose = true;
    if (OnCloseQuery) OnCloseQuery(canClose);
    return canClose;
}

void TForm::Close() {
    if (closing_) return;
    const platform::TFlagScope closing(closing_);
    if (modalLoop_ != nullptr) {
        SetModalResult(mrCancel);
        return;
    }
    if (!CloseQuery()) return;
    TCloseAction action = TCloseAction::Hide;
    if (OnClose) OnClose(action);
    if (action == TCloseAction::None) return;
    Hide();
    if (Application().MainForm() == this) Application().Terminate();
}

bool TForm::SaveImage(const std::string& path) const {
    QWidget* w = Widget();
    return w != nullptr && w->grab().save(QFile::decodeName(path.c_str()), "PNG");
}

LRESULT TForm::Broadcast(UINT msg, WPARAM wParam, LPARAM lParam) {
    QWidget* w = Widget();
    if (w == nullptr) return 0;
    // A control may go while another handles the message; its handle then answers 0.
    std::vector<HWND> handles;
    for (const QWidget* child : w->findChildren<QWidget*>())
        if (const HWND handle = HandleOf(child)) handles.push_back(handle);
    for (const HWND handle : handles)
        if (const LRESULT answer = platform::SendMessage(handle, msg, wParam, lParam)) return answer;
    return 0;
}

HWND TForm::ActiveControl() const {
    for (const QWidget* w = Widget() ? Widget()->focusWidget() : nullptr; w != nullptr && w != Widget();
         w = w->parentWidget())
        if (const HWND handle = HandleOf(w)) return handle;
    return 0;
}

TForm* GetParentForm(const TControl* control) {
    while (control != nullptr) {
        if (auto* form = dynamic_cast<const TForm*>(control)) return const_cast<TForm*>(form);
        control = control->Parent();
    }
    return nullptr;
}

LRESULT TForm::WndProc(UINT msg, WPARAM, LPARAM) {
    if (msg == platform::WM_CLOSE) Close();
    return 0;
}

} // namespace ui
