// What the preview pane and the peek show of one result, as plain properties for the views:
// follows the model's results, exact times and folder reachability, and reads nothing from
// disk. Set `app`, then `frameId` (null shows nothing).
#pragma once

#include <QtQml/qqmlregistration.h>
#include <QDateTime>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QUrl>
#include <QVariant>
#include <optional>

#include "search/SearchResult.h"

namespace quillmere {

class AppModel;

class PreviewFacts : public QObject {
  Q_OBJECT
  QML_ELEMENT

  Q_PROPERTY(AppModel* app READ app WRITE setApp NOTIFY appChanged)
  // A frame id, or null.
  Q_PROPERTY(QVariant frameId READ frameId WRITE setFrameId NOTIFY frameIdChanged)
  // The frame is among the model's results.
  Q_PROPERTY(bool valid READ valid NOTIFY changed)
  Q_PROPERTY(qint64 shownFrameId READ shownFrameId NOTIFY changed)
  Q_PROPERTY(QString name READ name NOTIFY changed)
  Q_PROPERTY(bool isVideo READ isVideo NOTIFY changed)
  Q_PROPERTY(bool online READ online NOTIFY changed)
  // The file's location; empty while its folder is not reachable.
  Q_PROPERTY(QUrl fileUrl READ fileUrl NOTIFY changed)
  Q_PROPERTY(QString filePath READ filePath NOTIFY changed)
  Q_PROPERTY(double openTime READ openTime NOTIFY changed)
  Q_PROPERTY(QString openTimecode READ openTimecode NOTIFY changed)
  Q_PROPERTY(bool exact READ exact NOTIFY changed)
  Q_PROPERTY(QString durationTimecode READ durationTimecode NOTIFY changed)
  // Width over height, clamped to 0.5 ... 2.4; 1.6 when unknown.
  Q_PROPERTY(double aspect READ aspect NOTIFY changed)
  // The directory holding the file, home as "~"; empty when its folder is unknown.
  Q_PROPERTY(QString folderPath READ folderPath NOTIFY changed)
  // "1920 × 1080 · 2.1 MB"; empty when the width is unknown.
  Q_PROPERTY(QString sizeText READ sizeText NOTIFY changed)
  Q_PROPERTY(QString modifiedText READ modifiedText NOTIFY changed)
  Q_PROPERTY(QString matchWords READ matchWords NOTIFY changed)
  // The note under the buttons while the folder is not reachable; empty otherwise.
  Q_PROPERTY(QString offlineNote READ offlineNote NOTIFY changed)

 public:
  explicit PreviewFacts(QObject* parent = nullptr);

  AppModel* app() const { return app_; }
  void setApp(AppModel* app);
  QVariant frameId() const;
  void setFrameId(const QVariant& frameId);

  bool valid() const { return result_.has_value(); }
  qint64 shownFrameId() const { return result_ ? result_->frameID : -1; }
  QString name() const;
  bool isVideo() const;
  bool online() const;
  QUrl fileUrl() const;
  QString filePath() const;
  double openTime() const;
  QString openTimecode() const;
  bool exact() const;
  QString durationTimecode() const;
  double aspect() const;
  QString folderPath() const;
  QString sizeText() const;
  QString modifiedText() const;
  QString matchWords() const;
  QString offlineNote() const;
  // The frame id step rows away in the results, kept within the list; null when none is shown.
  Q_INVOKABLE QVariant neighbour(int step) const;

  // The words for a score against the best score of the list.
  static QString matchWords(float best, float score);
  static double aspect(int width, int height);
  // "~/x" for a path under home.
  static QString homeShortened(const QString& path);

 signals:
  void appChanged();
  void frameIdChanged();
  void changed();

 private:
  void follow(AppModel* app);
  void refresh();

  QPointer<AppModel> app_;
  std::optional<qint64> frameId_;
  std::optional<SearchResult> result_;
};

}  // namespace quillmere
