#include "app/QtDialogs.hpp"

#include <QGuiApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>

namespace qb::app {

bool QtDialogs::canShowWindows() {
    const QString platform = QGuiApplication::platformName();
    return platform != "offscreen" && platform != "minimal";
}

size_t QtDialogs::show(const Alert& alert) {
    const std::vector<std::string> buttons =
        alert.buttons.empty() ? std::vector<std::string>{"OK"} : alert.buttons;
    if (!canShowWindows()) {
        const std::string name = "Quillabrenta for Mac";
        const std::string heading = alert.message == name ? "" : alert.message + " ";
        std::fprintf(stderr, "%s: %s%s\n", name.c_str(), heading.c_str(),
                     alert.informativeText.c_str());
        return buttons.size() - 1;
    }
    QMessageBox box;
    box.setIcon(QMessageBox::Warning);
    box.setWindowTitle("Quillabrenta for Mac");
    box.setText(QString::fromStdString(alert.message));
    box.setInformativeText(QString::fromStdString(alert.informativeText));
    std::vector<QAbstractButton*> added;
    for (size_t i = 0; i < buttons.size(); ++i) {
        const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
        added.push_back(box.addButton(QString::fromStdString(buttons[i]), role));
    }
    box.setDefaultButton(static_cast<QPushButton*>(added.front()));
    box.setEscapeButton(added.back());
    box.raise();
    box.activateWindow();
    box.exec();
    for (size_t i = 0; i < added.size(); ++i)
        if (box.clickedButton() == added[i]) return i;
    return added.size() - 1;
}

} // namespace qb::app
