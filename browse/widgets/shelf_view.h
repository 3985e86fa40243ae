// SPDX-License-Identifier: GPL-2.0-or-later
// CShelfView: a folder of books shown as covers (sources/shelf.h), in a
// document window. Each book shows its cover (the first page, from the
// thumbnail cache or made), its title and series number, and how far the
// reader is (page N of M and a bar; "新" for a book never opened, "已读"
// for one read to its last page). Folders of books show as folders: a
// click goes in, Backspace or the path above the grid goes back up.
//
// Above the grid: the path from the shelf opened down to the folder shown,
// "继续阅读" (the books begun and not finished on every shelf seen, last
// read first), the order (natural, title, date added, last read; kept in
// the settings under View/ShelfOrder) and a search field filtering by
// name, title, series and writer.
//
// Keys: the arrows move through the grid, Enter (or a click) opens, "/"
// goes to the search field, Delete does nothing (the shelf never changes a
// book); keys with Ctrl or Alt stay the main window's.
//
// The covers and the books' details are read by two threads of the shelf's
// own, the books on screen first; the grid is usable at once, the covers
// filling in. Their results wait in the shelf's job under its mutex, and a
// queued call carrying nothing has the interface thread show them.
//
// Threads: user-interface thread, plus the shelf's threads, which open
// books and read the thumbnail cache, share their job under its mutex and
// never wait for the interface thread.
#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QImage>
#include <QPixmap>
#include <QWidget>
#include <filesystem>
#include <memory>
#include <vector>

#include "browse/reading/work_team.h"
#include "sources/shelf.h"

class QComboBox;
class QHBoxLayout;
class QLineEdit;
class QListView;
class QMenu;
class QToolButton;

namespace inkbrite {

class CShelfModel;

// The shelf folders seen, last first (kept in the settings under
// View/ShelvesSeen, at most 100).
std::vector<std::filesystem::path> ShelvesSeen();
void NoteShelfSeen(const std::filesystem::path& folder);
// The books begun and not finished under the shelves seen, last read first.
Shelf BooksBegunOnShelves();

class CShelfView : public QWidget {
  Q_OBJECT

 public:
  // The menu of the cover in row `row`: the settings attached to its
  // series or book ("用于此系列", "用于此书" and their removal), made as
  // a child of `parent` (the screenshots show it without running it).
  QMenu* MakeAttachMenu(int row, QWidget* parent);
  // Shows the shelf of `folder`.
  explicit CShelfView(const std::filesystem::path& folder, QWidget* parent = nullptr);
  ~CShelfView() override;

  // The folder opened as the shelf, and the one shown now (it or a folder
  // inside it).
  const std::filesystem::path& Root() const { return m_root; }
  const std::filesystem::path& Folder() const { return m_shelf.Folder(); }
  // The window's title: the folder shown's name.
  QString Title() const;

  // Shows `folder` (the root or a folder under it).
  void ShowFolder(const std::filesystem::path& folder);
  // Shows the folder above (not above the root); false when at the root.
  bool GoUp();
  // Shows the books begun (true) or the folder again.
  void ShowBegun(bool on);
  bool ShowingBegun() const { return m_begun; }
  void SetOrder(ShelfOrder order);
  void SetSearch(const QString& text);
  // The reading places read again (a book was closed), the book at `path`
  // made the current item.
  void RefreshProgress(const std::filesystem::path& path);

  // What is shown, in grid order.
  int Count() const;
  const ShelfItem& ItemAt(int row) const;
  // The cover of row `row` arrived (or the book turned out to have none).
  bool CoverArrived(int row) const;
  bool AllArrived() const;
  int CurrentRow() const;
  QListView* Grid() const { return m_grid; }
  QLineEdit* SearchField() const { return m_search; }
  QComboBox* OrderBox() const { return m_order; }
  QToolButton* BegunButton() const { return m_begunButton; }
  // The path buttons above the grid, root first.
  std::vector<QToolButton*> PathButtons() const;

 signals:
  // The user opened the book (or folder of pages) at `path`.
  void bookChosen(const std::filesystem::path& path);
  // The folder shown changed (the window's title follows).
  void folderChanged();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private slots:
  // Posted by the threads: shows what arrived.
  void OnArrivals();

 private:
  struct Job;
  struct Arrival;
  void Retranslate();
  void ListShown(const Shelf& shelf);
  void ReadProgress();
  void UpdateRows(const std::filesystem::path& keep);
  void UpdatePath();
  void Open(int row);
  // The cover's menu, run at `globalAt`.
  void ShowAttachMenu(int row, const QPoint& globalAt);
  bool HandleKey(QKeyEvent* key);
  void StartWorker();
  void StopWorker();
  void WorkerLoop(const std::shared_ptr<Job>& job);
  void UpdateVisibleRange();

  std::filesystem::path m_root;
  Shelf m_shelf;
  bool m_begun = false;
  std::filesystem::path m_folderBeforeBegun;
  std::vector<size_t> m_rows;              // shelf positions shown, in grid order
  QHash<QString, QPixmap> m_covers;        // by path; a null pixmap: none
  QHash<QString, bool> m_arrived;          // by path
  QHash<QString, ShelfDetails> m_details;  // by path, of every book seen

  QWidget* m_pathBar;
  QHBoxLayout* m_pathLayout;
  QToolButton* m_begunButton;
  QComboBox* m_order;
  QLineEdit* m_search;
  QListView* m_grid;
  CShelfModel* m_model;

  QElapsedTimer m_sinceOpen;  // since the last item opened

  std::shared_ptr<Job> m_job;
  WorkTeam m_workers;

  friend class CShelfModel;
  friend class CShelfDelegate;
};

}  // namespace inkbrite
