#include "ui/form.h"

#include "ui/application.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QFile>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>

namespace ui {
namespace {

// The window system's close button goes the same way as a close request.
class FormWidget : public QWidget {
public:
    explicit FormWidget(TForm& form) : form_(form) {}

protected:
    void closeEvent(QCloseEvent* event) override {
        event->ignore();
        RunHandler([this] { form_.Close(); });
    }

    // Enter that no control took clicks the default button.
    void keyPressEvent(QKeyEvent* event) override {
        if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
            for (QPushButton* button : findChildren<QPushButton*>()) {
                if (button->isDefault() && button->isEnabled() && button->isVisible()) {
                    event->accept();
                    button->click();
                    return;
                }
            }
        }
        QWidget::keyPressEvent(event);
    }

private:
    TForm& form_;
};

} // namespace

TForm::TForm() : TControl(MakeWidget<FormWidget>(*this), nullptr) {}

TForm::~TForm() {
    if (modalLoop_ != nullptr) modalLoop_->exit();
    Application().ForgetForm(this);
}

std::string TForm::Caption() const { return Widget() ? FromQt(Widget()->windowTitle()) : std::string(); }

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
    SetVisible(true);
    QEventLoop loop;
    modalLoop_ = &loop;
    // Window messages reach the form meanwhile through the application's pump.
    while (!modalEnded_ && !Application().Terminated() && Widget() != nullptr) loop.exec();
    modalLoop_ = nullptr;
    if (Widget() != nullptr) {
        w->hide();
        w->setWindowModality(Qt::NonModal);
    }
    if (modalResult_ == mrNone) modalResult_ = mrCancel; // the application ended under it
    return modalResult_;
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
    closing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{closing_};
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

LRESULT TForm::WndProc(UINT msg, WPARAM, LPARAM) {
    if (msg == platform::WM_CLOSE) Close();
    return 0;
}

} // namespace ui
