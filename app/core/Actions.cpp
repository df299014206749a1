// SPDX-License-Identifier: GPL-3.0-or-later
#include "Actions.h"

#include <QClipboard>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QSaveFile>
#include <QtDBus/QDBusConnection>
#include <QtDBus/QDBusMessage>
#include <QtDBus/QDBusPendingCallWatcher>
#include <QtDBus/QDBusPendingReply>
#include <cmath>
#include <cstdio>
#include <utility>
#include <vector>

#include "FolderModel.h"
#include "GuiQueue.h"
#include "PlayerWindows.h"
#include "SearchModel.h"

namespace quillmere {
namespace {

QString fromPath(const std::filesystem::path& path) {
  return QString::fromStdString(path.string());
}

}  // namespace

Actions::Actions(const SearchModel& search, const FolderModel& folders, Notify notify,
                 QObject* parent)
    : QObject(parent),
      search_(search),
      folders_(folders),
      notify_(std::move(notify)),
      gui_(new GuiQueue(this)) {}

// The writing thread touches only its own copy of the plan; it ends before the queue it
// answers on goes.
Actions::~Actions() {
  if (writer_.joinable()) writer_.join();
}

std::optional<SearchResult> Actions::result(qint64 frameID) const {
  const auto* results = search_.results();
  const auto row = results->row(frameID);
  if (!row) return std::nullopt;
  return results->results()[static_cast<std::size_t>(*row)];
}

// ---- Open ----

void Actions::open(qint64 frameID) {
  if (const auto found = result(frameID)) open(*found);
}

void Actions::open(const SearchResult& result) {
  const auto location = folders_.filePath(result.file);
  if (!location) {
    const auto folder = folders_.folder(result.file);
    const auto drive = folder && folder->root.volumeName
                           ? QString::fromStdString(*folder->root.volumeName)
                           : tr("the drive");
    notify_(tr("Connect %1 to open %2.").arg(drive, QString::fromStdString(result.file.name())));
    return;
  }
  const auto url = QUrl::fromLocalFile(fromPath(*location));
  if (result.file.kind == MediaKind::video) {
    const auto seconds = search_.openTime(result);
    PlayerWindows::shared().open(url, seconds);
    emit playVideo(url, seconds);
  } else if (!QDesktopServices::openUrl(url)) {
    notify_(
        tr("No application is set up to open %1.").arg(QString::fromStdString(result.file.name())));
  }
}

// ---- Show in the file manager ----

void Actions::showInFolder(qint64 frameID) {
  if (const auto found = result(frameID)) showInFolder(*found);
}

void Actions::showInFolder(const SearchResult& result) {
  if (const auto location = folders_.filePath(result.file)) reveal(*location);
}

void Actions::showFolder(qint64 rootID) {
  for (const auto& folder : folders_.list()->folders()) {
    if (folder.root.id != rootID || !folder.online) continue;
    if (const auto location = folders_.reachablePath(folder.root)) {
      reveal(location->has_filename() ? *location : location->parent_path());
    }
  }
}

// Asks the desktop's file manager over the session bus; when none answers, the containing
// folder opens in whatever handles directories.
void Actions::reveal(const std::filesystem::path& item) {
  auto bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) {
    revealFallback(item);
    return;
  }
  auto call = QDBusMessage::createMethodCall(fileManagerService, fileManagerPath,
                                             fileManagerService, "ShowItems");
  call << QStringList{QUrl::fromLocalFile(fromPath(item)).toString()} << QString();
  auto* watcher = new QDBusPendingCallWatcher(bus.asyncCall(call, fileManagerTimeout), this);
  connect(watcher, &QDBusPendingCallWatcher::finished, this,
          [this, item](QDBusPendingCallWatcher* finished) {
            finished->deleteLater();
            if (finished->isError()) {
              revealFallback(item);
            } else {
              emit revealed(fromPath(item), true);
            }
          });
}

void Actions::revealFallback(const std::filesystem::path& item) {
  QDesktopServices::openUrl(QUrl::fromLocalFile(fromPath(item.parent_path())));
  emit revealed(fromPath(item), false);
}

// ---- Copy the path ----

void Actions::copyPath(qint64 frameID, bool withTime) {
  if (const auto found = result(frameID)) copyPath(*found, withTime);
}

void Actions::copyPath(const SearchResult& result, bool withTime) {
  const auto folder = folders_.folder(result.file);
  if (!folder) return;
  auto text = fromPath(
      std::filesystem::absolute(std::filesystem::path(folder->root.path) / result.file.relPath));
  if (withTime) text += " " + timecode(search_.openTime(result));
  auto* clipboard = QGuiApplication::clipboard();
  clipboard->clear();
  clipboard->setText(text);
}

QString Actions::timecode(double seconds) {
  const auto whole = static_cast<long long>(std::max(0.0, std::floor(seconds)));
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60,
                whole % 60);
  return QString::fromLatin1(text);
}

// ---- Export markers ----

ExportPlan Actions::plan() const {
  std::vector<ExportPlan::Item> items;
  for (const auto& result : search_.results()->results()) {
    items.push_back(
        {result.file.kind, folders_.filePath(result.file), search_.openTime(result), result.score});
  }
  return ExportPlan(search_.searchedQuery().toStdString(), items);
}

void Actions::exportMarkers() {
  if (exporting_) {
    notify_(tr(stillExporting));
    return;
  }
  auto asked = plan();
  if (asked.empty()) {
    asked_.reset();
    notify_(tr("There are no video results to export. Search for a moment in your videos first."));
    return;
  }
  asked_ = std::move(asked);
  emit exportAsked();
}

std::filesystem::path Actions::exportPath(const std::filesystem::path& path, int nameFilter) {
  if (path.has_extension()) return path;
  auto named = path;
  named += nameFilter == 1 ? ".csv" : ".fcpxml";
  return named;
}

void Actions::saveExport(const QUrl& file, int nameFilter) {
  if (!asked_ || !file.isLocalFile()) return;
  if (exporting_) {
    notify_(tr(stillExporting));
    return;
  }
  if (writer_.joinable()) writer_.join();
  exporting_ = true;
  emit exportingChanged();
  const auto path = exportPath(file.toLocalFile().toStdString(), nameFilter);
  writer_ = std::jthread([this, plan = std::move(*asked_), path] {
    const auto document = plan.document(ExportPlan::format(path));
    QSaveFile out(fromPath(path));
    bool ok = out.open(QIODevice::WriteOnly);
    ok = ok && out.write(document.text.data(), static_cast<qint64>(document.text.size())) ==
                   static_cast<qint64>(document.text.size());
    ok = ok && out.commit();
    const auto notice =
        ok ? tr("Exported %n moment(s) to %1.", nullptr, static_cast<int>(document.count))
                 .arg(fromPath(path.filename()))
           : tr("Couldn't save the export: %1").arg(out.errorString());
    gui_->post([this, ok, notice] { finishExport(ok, notice); });
  });
  asked_.reset();
}

void Actions::finishExport(bool ok, const QString& notice) {
  exporting_ = false;
  notify_(notice);
  emit exportingChanged();
  emit exportFinished(ok);
}

QString Actions::exportMessage() const {
  return tr(
      "A timeline with every found moment and a marker on the frame \u2014 for Final Cut Pro "
      "(File \u203a Import \u203a XML) and DaVinci Resolve (File \u203a Import \u203a Timeline). "
      "Save as .csv for a spreadsheet.");
}

QStringList Actions::exportNameFilters() const {
  return {tr("Final Cut Pro XML (*.fcpxml)"), tr("Comma-separated text (*.csv)")};
}

QString Actions::exportTitle() const {
  return asked_ ? QString::fromStdString(asked_->title()) : QString();
}

QString Actions::exportFileName() const {
  return asked_ ? QString::fromStdString(asked_->suggestedFileName()) : QString();
}

// ---- Links and the update alert ----

QUrl Actions::helpAddress(const QStringList& languages) {
  const auto first = languages.isEmpty() ? QStringLiteral("en") : languages.front();
  const char* page = first.startsWith("es")   ? "es/support"
                     : first.startsWith("pt") ? "pt/support"
                                              : "help";
  return QUrl(QString::fromLatin1(site) + page);
}

QUrl Actions::privacyAddress() {
  return QUrl(QString::fromLatin1(site) + "privacy");
}

void Actions::openHelp() const {
  QDesktopServices::openUrl(helpAddress(QLocale().uiLanguages()));
}

void Actions::openPrivacy() const {
  QDesktopServices::openUrl(privacyAddress());
}

QString Actions::updateMessage() const {
  return tr("This is a development build");
}

QString Actions::updateDetail() const {
  return tr("Updates come with the release from %1.").arg(QString::fromLatin1(site));
}

}  // namespace quillmere
