// Message boxes for the engine and the dialogs. A box asked for on the GUI
// thread is shown there at once, over the active modal dialog. A box asked
// for by a worker is shown on the GUI thread, owned by the main window, while
// the worker waits for it to be closed (or destroyed); once closing has
// begun, every box showing or waiting closes and later calls return at once.
#pragma once

#include <QObject>
#include <QPointer>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/frontend.h"

class QMessageBox;
class QWidget;

namespace orvalin::desktop {

class MessageBroker final : public QObject, public IUserDialogs {
    Q_OBJECT
  public:
    explicit MessageBroker(QObject* parent = nullptr) : QObject(parent) {}
    ~MessageBroker() override;

    // The window workers' boxes belong to, and the others when no modal
    // dialog is open.
    void SetOwnerWindow(QWidget* window) { owner_ = window; }

    void ShowWarning(const std::string& text) override;
    bool AskYesNo(const std::string& text) override;
    void BeginClosing() override;

    bool Closing() const;

  private:
    struct Request {
        std::string text;
        bool done = false;
        QPointer<QMessageBox> box;
    };

    QMessageBox* MakeBox(const std::string& text, bool question, QWidget* parent);
    QWidget* ModalParent() const;
    void Present(const std::shared_ptr<Request>& request);
    void Finish(const std::shared_ptr<Request>& request);
    void ShowHere(const std::string& text);

    QPointer<QWidget> owner_;
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool closing_ = false;
    std::vector<std::shared_ptr<Request>> pending_;
    // Boxes running on the GUI thread's own stack.
    std::vector<QPointer<QMessageBox>> local_;
};

}  // namespace orvalin::desktop
