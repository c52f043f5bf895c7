// The GUI side of an import: the preview read, the choice between a new
// session and a merge, the destination, and the start of the worker.
#include <QCheckBox>
#include <QDebug>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "BundleFormat.h"
#include "BundleImportRules.h"
#include "BundleManager.h"
#include "BundleWorker.h"
#include "FileCheck.h"
#include "Modal.h"
#include "ScreenFit.h"

#include <QScrollArea>
#include "SessionManager.h"

namespace {

// The manifest is small JSON; a larger one is not a manifest of ours.
constexpr qint64 kMaxManifestBytes = 16 << 20;

QByteArray findManifest(const QString& path)
{
    if (!FileCheck::isRegularFile(path))
        return {};
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    BundleFormat::Reader reader(&f);
    BundleFormat::Header header;
    if (reader.readHeader(&header) != BundleFormat::Reader::Status::Ok)
        return {};
    for (quint32 i = 0; i < header.count; ++i) {
        BundleFormat::EntryInfo info;
        if (reader.readEntryInfo(header, &info) != BundleFormat::Reader::Status::Ok)
            return {};
        if (info.name != BundleFormat::kManifest()) {
            if (reader.skipPayload(info) != BundleFormat::Reader::Status::Ok)
                return {};
            continue;
        }
        if (info.storedSize > kMaxManifestBytes || info.contentSize > kMaxManifestBytes)
            return {};
        QByteArray payload;
        if (reader.readPayload(info, &payload) != BundleFormat::Reader::Status::Ok)
            return {};
        bool mismatch = false;
        return BundleFormat::contentOf(info, payload, &mismatch);
    }
    return {};
}

// Height of the choice dialog's parts other than its list of tabs.
constexpr int kRoomAroundTabList = 300;

QVBoxLayout* dialogLayout(QDialog* dlg, const QString& title, int minWidth)
{
    dlg->setWindowTitle(title);
    dlg->setMinimumWidth(minWidth);
    auto* lay = new QVBoxLayout(dlg);
    lay->setSpacing(8);
    lay->setContentsMargins(16, 16, 16, 16);
    return lay;
}

void addButtonRow(QDialog* dlg, QVBoxLayout* lay, const QString& acceptText)
{
    auto* row = new QHBoxLayout;
    row->addStretch();
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), dlg);
    auto* ok = new QPushButton(acceptText, dlg);
    ok->setObjectName(QStringLiteral("accept"));
    ok->setDefault(true);
    QObject::connect(cancel, &QPushButton::clicked, dlg, &QDialog::reject);
    QObject::connect(ok, &QPushButton::clicked, dlg, &QDialog::accept);
    row->addWidget(cancel);
    row->addWidget(ok);
    lay->addLayout(row);
}

} // namespace

BundleManager::Preview BundleManager::previewBundle(const QString& path)
{
    Preview p;
    p.displayName = QFileInfo(path).completeBaseName();
    const QByteArray bytes = findManifest(path);
    QJsonObject manifest;
    if (!bytes.isEmpty()) {
        QJsonParseError err;
        const QJsonDocument doc = QJsonDocument::fromJson(bytes, &err);
        if (err.error != QJsonParseError::NoError)
            qWarning() << "BundleManager: preview manifest parse error:" << err.errorString();
        manifest = doc.object();
    }
    const QJsonValue projectFile = manifest.value(QStringLiteral("projectFile"));
    if (projectFile.isString() && !projectFile.toString().isEmpty())
        p.displayName = QFileInfo(BundleImportRules::fileNamePart(projectFile.toString())).completeBaseName();
    for (const QJsonValue& v : manifest.value(QStringLiteral("tabSettings")).toArray())
        p.tabNames << v.toObject().value(QStringLiteral("name")).toString();
    return p;
}

void BundleManager::importBundle(QWidget* parent)
{
    using namespace BundleImportRules;
    dialogParent = parent;
    const QString bundle = Modal::getOpenFileName(parent, QStringLiteral("Import Bundle"), QDir::homePath(),
                                                  QStringLiteral("Tarvello Bundle (*.vxbundle)"));
    if (bundle.isEmpty())
        return;
    const Preview preview = previewBundle(bundle);

    // The choice: a new session or a merge of some tabs.
    QDialog choose(parent);
    QVBoxLayout* lay = dialogLayout(&choose, QStringLiteral("Import Bundle"), 400);
    lay->addWidget(new QLabel(QStringLiteral("<b>Bundle:</b> %1").arg(preview.displayName), &choose));
    if (!preview.tabNames.isEmpty())
        lay->addWidget(new QLabel(containsLine(preview.tabNames), &choose));
    lay->addSpacing(4);
    lay->addWidget(new QLabel(QStringLiteral("<b>How do you want to import?</b>"), &choose));
    auto* asNew = new QRadioButton(QStringLiteral("Open as a new session (replaces current)"), &choose);
    auto* asMerge = new QRadioButton(QStringLiteral("Add to current session (merge tabs in)"), &choose);
    asNew->setObjectName(QStringLiteral("newSession"));
    asMerge->setObjectName(QStringLiteral("merge"));
    asNew->setChecked(true);
    lay->addWidget(asNew);
    lay->addWidget(asMerge);
    auto* group = new QGroupBox(QStringLiteral("Select tab(s) to import:"), &choose);
    auto* groupLay = new QVBoxLayout(group);
    auto* tabList = new QWidget;
    auto* tabLay = new QVBoxLayout(tabList);
    tabLay->setContentsMargins(0, 0, 0, 0);
    QList<QCheckBox*> boxes;
    for (const QString& name : preview.tabNames) {
        auto* cb = new QCheckBox(name.isEmpty() ? QStringLiteral("(unnamed tab)") : name, tabList);
        cb->setChecked(true);
        tabLay->addWidget(cb);
        boxes << cb;
    }
    // Many tabs scroll inside the group: Next and Cancel stay on the screen.
    groupLay->addWidget(ScreenFit::scrolling(tabList, ScreenFit::availableHeight(parent) - kRoomAroundTabList, group));
    ScreenFit::capHeight(&choose);
    group->hide();
    lay->addWidget(group);
    const bool several = preview.tabNames.size() > 1;
    QObject::connect(asMerge, &QRadioButton::toggled, &choose, [group, &choose, several](bool on) {
        group->setVisible(on && several);
        choose.adjustSize();
    });
    addButtonRow(&choose, lay, QStringLiteral("Next…"));
    if (Modal::exec(&choose) != QDialog::Accepted)
        return;

    const bool merge = asMerge->isChecked();
    // The folders shown are those the worker fills: one rule for both.
    const QList<QString> folders = tabFolders(preview.tabNames);
    QList<QString> selected;
    QList<QString> shownFolders;
    QList<int> indices;
    if (merge && !boxes.isEmpty()) {
        for (int i = 0; i < boxes.size(); ++i)
            if (boxes.at(i)->isChecked()) {
                selected << preview.tabNames.at(i);
                shownFolders << folders.at(i);
                indices << i;
            }
        if (indices.isEmpty()) {
            Modal::warning(parent, QStringLiteral("Import"),
                           QStringLiteral("No tabs selected. Please select at least one tab."));
            return;
        }
    } else {
        selected = preview.tabNames;
        shownFolders = folders;
    }

    // Where the files go.
    QString projectName = cleanProjectName(preview.displayName);
    QString baseDir;
    QString folderName;
    if (merge) {
        const QString sessionFile = SessionManager::instance()->session().filePath;
        baseDir = sessionFile.isEmpty() ? QDir::homePath() : QFileInfo(sessionFile).absolutePath();
        folderName = projectName + QStringLiteral("_imported");
    } else {
        baseDir = Modal::getExistingDirectory(parent, QStringLiteral("Choose Destination Folder"), QDir::homePath());
        if (baseDir.isEmpty())
            return;
        folderName = projectName;
    }
    QString destination = freeFolder(baseDir, folderName);
    if (destination.isEmpty()) {
        Modal::warning(parent, QStringLiteral("Import"),
                       QStringLiteral("No free folder for: ") + baseDir + QLatin1Char('/') + folderName);
        return;
    }

    // The confirmation, with the tree of what will be made.
    QDialog confirm(parent);
    QVBoxLayout* cl = dialogLayout(&confirm, QStringLiteral("Import Bundle — Confirm"), 480);
    auto* heading = new QLabel(merge ? QStringLiteral("<b>Importing tab(s) into current session</b>")
                                     : QStringLiteral("<b>Import: %1</b>").arg(projectName),
                               &confirm);
    heading->setStyleSheet(QStringLiteral("font-size:13px;"));
    cl->addWidget(heading);
    QLineEdit* nameEdit = nullptr;
    if (!merge) {
        auto* row = new QHBoxLayout;
        auto* label = new QLabel(QStringLiteral("Project name:"), &confirm);
        label->setFixedWidth(100);
        nameEdit = new QLineEdit(projectName, &confirm);
        nameEdit->setPlaceholderText(QStringLiteral("Enter project name…"));
        row->addWidget(label);
        row->addWidget(nameEdit, 1);
        cl->addLayout(row);
    }
    cl->addWidget(new QLabel(QStringLiteral("Files will be extracted to:"), &confirm));
    auto* tree = new QPlainTextEdit(&confirm);
    tree->setObjectName(QStringLiteral("tree"));
    tree->setReadOnly(true);
    tree->setFixedHeight(merge ? 60 : 120);
    tree->setStyleSheet(QStringLiteral("font-family:Consolas,monospace;font-size:11px;"));
    cl->addWidget(tree);
    auto* change = new QPushButton(QStringLiteral("Change Destination…"), &confirm);
    change->setObjectName(QStringLiteral("changeDestination"));
    cl->addWidget(change);
    auto* baseLabel = new QLabel(baseDir, &confirm);
    // The theme's muted label: its ink reads on the dialog in every preset.
    baseLabel->setObjectName(QStringLiteral("mutedLabel"));
    cl->addWidget(baseLabel);
    addButtonRow(&confirm, cl, merge ? QStringLiteral("✅ Add to Session") : QStringLiteral("✅ Import"));

    auto refresh = [&]() {
        destination = freeFolder(baseDir, folderName);
        tree->setPlainText(treeText(destination.isEmpty() ? baseDir + QLatin1Char('/') + folderName : destination,
                                    merge ? QString() : projectName, shownFolders));
    };
    refresh();
    if (nameEdit) {
        QObject::connect(nameEdit, &QLineEdit::textChanged, &confirm, [&](const QString& text) {
            projectName = cleanProjectName(text.isEmpty() ? QFileInfo(bundle).completeBaseName() : text);
            folderName = projectName;
            refresh();
        });
    }
    QObject::connect(change, &QPushButton::clicked, &confirm, [&]() {
        const QString dir =
            Modal::getExistingDirectory(&confirm, QStringLiteral("Choose Destination Folder"), baseDir);
        if (dir.isEmpty())
            return;
        baseDir = dir;
        folderName = projectName;
        baseLabel->setText(baseDir);
        refresh();
    });
    if (Modal::exec(&confirm) != QDialog::Accepted)
        return;
    if (nameEdit && !nameEdit->text().trimmed().isEmpty()) {
        projectName = cleanProjectName(nameEdit->text());
        folderName = projectName;
    }
    destination = freeFolder(baseDir, folderName);
    if (destination.isEmpty()) {
        Modal::warning(parent, QStringLiteral("Import"),
                       QStringLiteral("No free folder for: ") + baseDir + QLatin1Char('/') + folderName);
        return;
    }

    auto* worker = new BundleWorker;
    worker->setupImport(bundle, QFileInfo(destination).absoluteFilePath(), preview.tabNames, merge);
    if (merge) {
        mergeTabIndices = indices;
        mergeTabNames = indices.isEmpty() ? QList<QString>() : selected;
    } else {
        worker->setProjectName(projectName);
        mergeTabIndices.clear();
        mergeTabNames.clear();
    }
    runWorker(worker, parent, QStringLiteral("Importing Bundle…"));
}
