// SPDX-License-Identifier: GPL-3.0-or-later
// The published models the application offers to download, one row each, and the download
// under way. Owned by AppModel, so a download goes on when the settings window closes; it
// runs on a thread of its own, one at a time, and reports to the GUI thread.
#pragma once

#include <QAbstractListModel>
#include <QString>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

#include "catalogue/ModelCatalogue.h"

namespace quillmere {

class GuiQueue;

class ModelDownloads : public QAbstractListModel {
  Q_OBJECT
  Q_PROPERTY(int count READ rowCount CONSTANT)
  // The demo model is in use and no other is chosen: the views offer the recommended one.
  Q_PROPERTY(bool offered READ offered NOTIFY changed)
  // The offer in one line, its model's id, and what the offer's button does next.
  Q_PROPERTY(QString offer READ offer NOTIFY changed)
  Q_PROPERTY(QString offerId READ offerId CONSTANT)
  Q_PROPERTY(State offerState READ offerState NOTIFY changed)
  Q_PROPERTY(double offerProgress READ offerProgress NOTIFY changed)

 public:
  enum Role {
    IdRole = Qt::UserRole + 1,
    NameRole,
    FolderRole,    // the folder name under Models once downloaded, as 'Use' takes it
    DetailsRole,   // size, languages and quality on one line
    StateRole,     // a State: Available, Downloading or Downloaded
    ProgressRole,  // 0–1 while downloading
    ErrorRole,     // why the last try failed; empty when it did not
    EstimateRole,  // how long 10,000 photos would take here; empty until measured
    PartialRole,   // what a stopped download holds, "Partly downloaded: 12 MB"; else empty
  };
  Q_ENUM(Role)

  // Where a model's download stands; Failed only for the offer, whose last try went wrong.
  enum State { Available, Downloading, Downloaded, Failed };
  Q_ENUM(State)

  explicit ModelDownloads(QObject* parent = nullptr);
  // Stops a download under way (it resumes next time) and waits for its thread.
  ~ModelDownloads() override;

  int rowCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QHash<int, QByteArray> roleNames() const override;

  bool offered() const;
  QString offer() const;
  QString offerId() const;
  State offerState() const;
  double offerProgress() const;

  // Starts downloading the model with this id; nothing when one is under way.
  Q_INVOKABLE void download(const QString& id);
  // Stops the download under way; what arrived is kept for the next try.
  Q_INVOKABLE void cancel();
  // Removes what a stopped download of the model with this id holds.
  Q_INVOKABLE void discard(const QString& id);
  // Reads again which models are downloaded and chosen.
  Q_INVOKABLE void refresh();
  // Measures this computer's speed once, off the GUI thread, so that each row tells how long
  // indexing 10,000 photos would take with its model.
  Q_INVOKABLE void measureSpeed();
  // Whether the model in use is the demo model; only then is a download offered.
  void setUsingDemo(bool demo);
  // Draws a download under way without one running: the snapshot mode's picture of it.
  void show(const QString& id, double progress);

 signals:
  void changed();
  // A download ended with the model in place, under this folder name.
  void downloaded(const QString& folder);

 private:
  struct Row {
    ModelCatalogue::Entry entry;
    bool present = false;
    std::int64_t partial = -1;  // bytes of a stopped download; below 0: none
    double progress = -1;       // below 0: not downloading
    QString error;
  };
  static State state(const Row& row);
  int rowOf(const QString& id) const;
  void update(int row);
  void finish(int row, const QString& error);
  void join();

  std::vector<Row> rows_;
  GuiQueue* gui_;  // a child
  std::thread worker_;
  std::thread measurer_;
  double rate_ = 0;  // GFLOP/s once measured
  std::atomic<bool> stop_{false};
  bool choiceMade_ = false;
  bool usingDemo_ = false;
};

}  // namespace quillmere
