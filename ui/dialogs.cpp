#include "ui/dialogs.h"

#include "ui/application.h"

#include <QFile>
#include <QFileDialog>

namespace ui {

std::string QtFilter(const std::string& filter) {
    std::string out;
    size_t pos = 0;
    while (pos < filter.size()) {
        const size_t bar = filter.find('|', pos);
        const std::string name = filter.substr(pos, bar == std::string::npos ? std::string::npos : bar - pos);
        std::string patterns;
        if (bar != std::string::npos) {
            const size_t next = filter.find('|', bar + 1);
            patterns = filter.substr(bar + 1, next == std::string::npos ? std::string::npos : next - bar - 1);
            pos = next == std::string::npos ? filter.size() : next + 1;
        } else {
            pos = filter.size();
        }
        for (char& c : patterns) {
            if (c == ';') c = ' ';
        }
        if (!out.empty()) out += ";;";
        out += patterns.empty() ? name : name + " (" + patterns + ")";
    }
    return out;
}

bool TSaveDialog::Execute() {
    EnsureApplication();
    // Qt's own dialog, so that it runs the same everywhere, offscreen too.
    QFileDialog dialog(nullptr, ToQt(Title));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    if (!Filter.empty()) dialog.setNameFilter(ToQt(QtFilter(Filter)));
    if (!DefaultExt.empty())
        dialog.setDefaultSuffix(ToQt(DefaultExt[0] == '.' ? DefaultExt.substr(1) : DefaultExt));
    if (!FileName.empty()) dialog.selectFile(QFile::decodeName(FileName.c_str()));
    if (dialog.exec() != QDialog::Accepted) return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return false;
    FileName = QFile::encodeName(chosen.front()).toStdString();
    return true;
}

} // namespace ui
