#include "app/about_window.h"

#include <QDialogButtonBox>
#include <QLabel>
#include <QVBoxLayout>

namespace velmar {

AboutWindow::AboutWindow(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About"));
    auto* layout = new QVBoxLayout(this);
    auto* label = new QLabel(QStringLiteral("<b>Velmar Manager</b><br>Version %1<br>"
                                            "Server and configuration program of the Velmar "
                                            "home-automation system.")
                                 .arg(QStringLiteral(VELMAR_VERSION)),
                             this);
    label->setObjectName(QStringLiteral("aboutText"));
    layout->addWidget(label);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

}  // namespace velmar
