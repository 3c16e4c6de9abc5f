// "About Orvalin": the program's name, its one-line description and version.
#pragma once

#include <QDialog>
#include <memory>

namespace Ui {
class AboutDialog;
}

namespace orvalin::desktop {

class AboutDialog : public QDialog {
    Q_OBJECT
  public:
    explicit AboutDialog(QWidget* parent = nullptr);
    ~AboutDialog() override;

  private:
    std::unique_ptr<Ui::AboutDialog> ui_;
};

}  // namespace orvalin::desktop
