// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/inkbrite_doc.h"

#include <QApplication>
#include <QDateTime>
#include <QScreen>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <new>
#include <string_view>

#include "browse/dialogs/save_as_dialog.h"
#include "browse/reading/early_page.h"
#include "browse/reading/reading_places.h"
#include "browse/reading/tall_page.h"
#include "browse/services/ui_services.h"
#include "browse/widgets/inkbrite_view.h"
#include "core/enhance.h"
#include "formats/detect.h"
#include "formats/file_probe.h"
#include "formats/format_table.h"
#include "formats/image_file.h"
#include "formats/jpeg/jpeg_codec.h"
#include "formats/picture_size.h"
#include "sources/book_source.h"
#include "sources/folder_books.h"

namespace inkbrite {

namespace fs = std::filesystem;

namespace {

// Why a page could not be opened, for the user: the message, and after it
// the reader's reason when it gave one.
QString ReadFailureText(const DecodedPage& page) {
  if (page.noMemory) return UiText(kOutOfMemoryMessage);
  QString text = UiText(kReadFailedMessage);
  if (page.status.Failed()) {
    text += QLatin1Char('\n') + QCoreApplication::translate("CInkbriteDoc", "原因：%1")
                                    .arg(QString::fromStdString(ReadStatusText(page.status)));
  }
  return text;
}

// Shows the wait cursor for its lifetime.
class WaitCursor {
 public:
  WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
  ~WaitCursor() { QApplication::restoreOverrideCursor(); }
  WaitCursor(const WaitCursor&) = delete;
  WaitCursor& operator=(const WaitCursor&) = delete;
};

QString Qs(const fs::path& p) { return QString::fromStdString(p.string()); }

// 16 million pixels (4000 x 4000): below that a page decodes in well under
// the time a reader notices.
constexpr uint64_t kDefaultBackgroundLoadPixels = uint64_t{16} << 20;
std::atomic<uint64_t> g_backgroundLoadPixels{kDefaultBackgroundLoadPixels};

// The largest of 1/2, 1/4 and 1/8 at which the page still covers `box`
// when fitted into it; 1 when even half the page would not.
int PreviewDenominator(PictureSize page, QSize box) {
  const double fit = std::min(static_cast<double>(box.width()) / page.width,
                              static_cast<double>(box.height()) / page.height);
  for (int denominator : {8, 4, 2}) {
    if (1.0 / denominator >= fit) return denominator;
  }
  return 1;
}

// A page's size from its file's header (a book page's bytes are read for
// it, and kept in *bytes when asked for); false when the header does not
// tell. A file is opened once for its size and, in *format when asked for,
// its format.
// A book page too big to hold gives false here: the page is then decoded
// the usual way, which reports it.
bool HeaderSize(const fs::path& file, PageSource* source, size_t index, PictureSize& size,
                std::shared_ptr<const std::vector<uint8_t>>* kept = nullptr,
                ImageFormat* format = nullptr) {
  if (source != nullptr && source->IsBook()) {
    try {
      auto bytes = std::make_shared<std::vector<uint8_t>>();
      if (source->ReadPage(index, *bytes) != SourceError::kNone ||
          !ReadPictureSize(bytes->data(), bytes->size(), size)) {
        return false;
      }
      if (kept != nullptr) *kept = std::move(bytes);
      return true;
    } catch (const std::exception&) {
      size = {};
      return false;
    }
  }
  FileProbe probe(file);
  const ImageFormat detected = DetectImageFormat(probe);
  if (format != nullptr) *format = detected;
  if (ReadPictureFileSize(probe, size)) return true;
  // A JPEG frame header behind large metadata.
  JpegSize jpeg;
  if (detected != kFormatJpeg || !ReadJpegSize(probe, jpeg)) return false;
  size = {jpeg.width, jpeg.height};
  return true;
}

PageShape ShapeOfSize(PictureSize size) {
  return size.width > size.height ? PageShape::kWide : PageShape::kUpright;
}

// A page decoded by `load` (given the picture, its grey flag and status),
// with a failure or no memory said in the result.
DecodedPage Decode(
    const std::function<bool(DibImage&, int*, ReadStatus*, std::optional<JpegQuantisers>*)>& load) {
  DecodedPage result;
  try {
    auto image = std::make_shared<DibImage>();
    if (load(*image, &result.grey, &result.status, &result.jpeg)) result.image = std::move(image);
    result.noMemory = result.status.error == ReadError::kOutOfMemory;
  } catch (const std::bad_alloc&) {
    result.noMemory = true;
  } catch (const std::exception&) {
  }
  if (!result.image) {
    result.grey = 0;
    result.error = SourceError::kPageUnreadable;
  }
  return result;
}

// A book page from its bytes, as the book decodes it (PageSource::LoadPage).
DecodedPage DecodeBytes(const std::vector<uint8_t>& bytes, const std::string& name) {
  return Decode(
      [&](DibImage& image, int* grey, ReadStatus* status, std::optional<JpegQuantisers>* jpeg) {
        if (!LoadImageMemory(bytes.data(), bytes.size(), name, image, grey, status)) return false;
        JpegQuantisers tables;
        if (ReadJpegQuantisers(bytes.data(), bytes.size(), tables)) *jpeg = tables;
        return true;
      });
}

}  // namespace

CInkbriteDoc::CInkbriteDoc(QWidget* messageParent)
    : m_messageParent(messageParent), m_loader([this] {
        // On the loader thread: the page is taken on the user-interface
        // thread. (By name: the posted call then carries nothing made by
        // this thread.)
        QMetaObject::invokeMethod(m_loadTimer.get(), "start", Qt::QueuedConnection);
      }) {
  m_loadTimer->setSingleShot(true);
  m_loadTimer->setInterval(0);
  QObject::connect(m_loadTimer.get(), &QTimer::timeout, [this] { OnPageLoaded(); });
}

void CInkbriteDoc::SetBackgroundLoadPixels(uint64_t pixels) {
  g_backgroundLoadPixels = pixels == 0 ? kDefaultBackgroundLoadPixels : pixels;
}

uint64_t CInkbriteDoc::BackgroundLoadPixels() { return g_backgroundLoadPixels; }

bool CInkbriteDoc::PlanBackgroundLoad(const fs::path& file,
                                      const std::shared_ptr<PageSource>& source, size_t index,
                                      LoadPlan& plan) {
  const uint64_t threshold = g_backgroundLoadPixels;
  bool big = false;
  ImageFormat format = kFormatUnknown;
  if (!(source && m_prefetch.Holds(source, index)) &&
      HeaderSize(file, source.get(), index, plan.size, &plan.bytes, &format)) {
    big = plan.size.Pixels() >= threshold;
  }
  // Two pages side by side: the facing page too, when either is big.
  const int current = m_dirList.GetCurrentIndex();
  if (m_twoPages && source && source == m_dirList.Source() && current > 0 &&
      m_dirList.PageAt(current).index == index) {
    if (plan.size.width > 0) NoteShape(index, ShapeOfSize(plan.size));
    const Facing facing = FacingAt(ListedShapes(), m_coverAlone, current - 1);
    if (facing.first == current - 1 && facing.count == 2) {
      const ListedPage partner = m_dirList.PageAt(current + 1);
      PictureSize size;
      const bool known = !m_prefetch.Holds(source, partner.index) &&
                         HeaderSize(partner.file, source.get(), partner.index, size);
      if (known) NoteShape(partner.index, ShapeOfSize(size));
      // A wide page stands alone.
      if (!known || ShapeOfSize(size) != PageShape::kWide) {
        big = big || (known && size.Pixels() >= threshold);
        plan.withPartner = true;
        plan.partnerIndex = partner.index;
        plan.partnerName = partner.InBook() ? partner.entry : partner.file.filename().string();
        plan.partnerSize = size;
        plan.facing = facing;
      }
    }
  }
  if (plan.bytes) {
    plan.name = source->Pages()[index].name;
    plan.reducedJpeg =
        !m_twoPages &&
        DetectImageFormatInMemory(plan.bytes->data(), plan.bytes->size(), plan.name) == kFormatJpeg;
  } else {
    plan.reducedJpeg = !m_twoPages && plan.size.width > 0 && format == kFormatJpeg;
  }
  return big;
}

bool CInkbriteDoc::OpenInBackground(const fs::path& file, std::shared_ptr<PageSource> source,
                                    size_t index) {
  LoadPlan plan;
  if (!PlanBackgroundLoad(file, source, index, plan)) return false;
  // The shape shown meanwhile: the page, beside the facing page.
  PictureSize shape = plan.size.width > 0 ? plan.size : plan.partnerSize;
  if (plan.withPartner) {
    const PictureSize other = plan.partnerSize.width > 0 ? plan.partnerSize : shape;
    shape = {shape.width + other.width, std::max(shape.height, other.height)};
  }
  // Large enough for the page fitted to the screen or to any of its windows.
  QSize box(1, 1);
  if (const QScreen* screen = QGuiApplication::primaryScreen()) box = screen->size();
  for (const CInkbriteView* view : m_views) box = box.expandedTo(view->viewport()->size());
  const int denominator = PreviewDenominator(shape, box);
  // A blank page of the reduced size, shown until a picture replaces it.
  auto blank = std::make_shared<DibImage>();
  try {
    if (!blank->Create((shape.width + denominator - 1) / denominator,
                       (shape.height + denominator - 1) / denominator, 24)) {
      return false;
    }
    for (int32_t y = 0; y < blank->Height(); ++y) {
      std::memset(blank->Row(y), 0xFF, static_cast<size_t>(blank->Width()) * 3);
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  // Pages decoded ahead are not decoded again.
  DecodedPage here, partner;
  if (source && m_prefetch.Holds(source, index)) here = m_prefetch.Take(source, index);
  if (plan.withPartner && m_prefetch.Holds(source, plan.partnerIndex)) {
    partner = m_prefetch.Take(source, plan.partnerIndex);
  }
  DeleteContents();
  m_page = std::move(blank);
  m_loadFile = file;
  m_loadSource = std::move(source);
  m_loadIndex = index;
  m_loadPlan = std::move(plan);
  m_loadShape = QSize(shape.width, shape.height);
  if (!m_loadPlan.reducedJpeg || denominator == 1) {
    StartFullLoad(std::move(here), std::move(partner));
    return true;
  }
  m_loadingReduced = true;
  m_loadTicket = m_loader.Start([file, bytes = m_loadPlan.bytes, denominator] {
    LoadedPage reduced;
    try {
      auto image = std::make_shared<DibImage>();
      int* grey = &reduced.page.grey;
      if (bytes ? ReadJpegMemoryReduced(bytes->data(), bytes->size(), denominator, *image, grey)
                : ReadJpegFileReduced(file, denominator, *image, grey, nullptr)) {
        reduced.page.image = std::move(image);
      }
    } catch (const std::bad_alloc&) {
      reduced.page.noMemory = true;
    }
    return reduced;
  });
  return true;
}

void CInkbriteDoc::StartFullLoad(DecodedPage here, DecodedPage partner) {
  m_loadingReduced = false;
  m_loadTicket = m_loader.Start(
      [file = m_loadFile, source = m_loadSource, index = m_loadIndex, bytes = m_loadPlan.bytes,
       name = m_loadPlan.name, withPartner = m_loadPlan.withPartner,
       partnerIndex = m_loadPlan.partnerIndex, rightToLeft = m_rightToLeft, here = std::move(here),
       partner = std::move(partner)] {
        LoadedPage loaded;
        if (here.image) {
          loaded.page = here;
        } else {
          // A book page's bytes read for its header are not read again.
          loaded.page = bytes    ? DecodeBytes(*bytes, name)
                        : source ? DecodePage(*source, index)
                                 : DecodePageFile(file);
        }
        if (!withPartner || !loaded.page.image || !source) return loaded;
        loaded.partner = partner.image ? partner : DecodePage(*source, partnerIndex);
        // An unreadable page is shown alone when it is reached; a wide one
        // stands alone.
        if (!loaded.partner.image || ShapeOf(*loaded.partner.image) == PageShape::kWide) {
          return loaded;
        }
        try {
          auto both = std::make_shared<DibImage>();
          if (ComposeFacing(*loaded.page.image, *loaded.partner.image, rightToLeft, *both)) {
            loaded.spread = std::move(both);
          }
        } catch (const std::bad_alloc&) {
          // The page alone.
        }
        return loaded;
      });
}

void CInkbriteDoc::OnPageLoaded() {
  if (m_loadTicket == 0) return;
  if (std::optional<LoadedPage> page = m_loader.TakeReady(m_loadTicket)) {
    ApplyLoaded(std::move(*page));
  }
}

bool CInkbriteDoc::TallPageInStrips() const {
  return !m_views.empty() && !m_loadPlan.withPartner &&
         IsTallPage(m_loadShape.width(), m_loadShape.height()) &&
         std::all_of(m_views.begin(), m_views.end(),
                     [](const CInkbriteView* view) { return view->IsContinuous(); });
}

void CInkbriteDoc::KeepTallPageReduced() {
  // The full decoding under way is given up (what it holds goes when it
  // ends).
  if (m_loadTicket == 0 || m_loadingReduced || !m_page || !TallPageInStrips()) return;
  m_loader.Cancel();
  m_loadTicket = 0;
  m_fullLoadDeferred = true;
}

void CInkbriteDoc::LoadFullPage() {
  if (!m_fullLoadDeferred) return;
  m_fullLoadDeferred = false;
  StartFullLoad({}, {});
}

void CInkbriteDoc::FinishLoading() {
  LoadFullPage();
  if (m_loadTicket == 0) return;
  WaitCursor wait;
  // The reduced picture, then the full page.
  while (m_loadTicket != 0) ApplyLoaded(m_loader.Wait(m_loadTicket));
}

void CInkbriteDoc::ApplyLoaded(LoadedPage loaded) {
  m_loadTicket = 0;
  DecodedPage& page = loaded.page;
  if (m_loadingReduced && page.image) {
    // The reduced picture in place of the blank page; the full page next.
    m_page = std::move(page.image);
    m_greySource = page.grey;
    m_pageJpeg = page.jpeg;
    // A tall page every window shows in the continuous layout is read
    // there in bands: not whole here until a window or Save asks for it.
    if (TallPageInStrips()) {
      m_fullLoadDeferred = true;
    } else {
      StartFullLoad({}, {});
    }
    NotifyFullPage();
    return;
  }
  m_loadingReduced = false;
  m_loadSource.reset();
  if (!page.image) {
    // The reduced picture was readable, the full page is not (or does not
    // fit in memory): the window goes blank with the reason.
    DeleteContents();
    m_lastError = ReadFailureText(page);
    if (m_showReadError) ShowMessage(m_messageParent, m_lastError);
    for (CInkbriteView* view : m_views) {
      if (view->HasShownPage()) view->OnInitialUpdate();
    }
    return;
  }
  m_page = std::move(page.image);
  m_greySource = page.grey;
  m_pageJpeg = page.jpeg;
  m_fittedAhead.reset();
  if (m_twoPages) ShowLoadedSpread(loaded);
  NotifyFullPage();
}

void CInkbriteDoc::ShowLoadedSpread(const LoadedPage& loaded) {
  const std::string wasPartner = m_partnerName;
  m_shown.reset();
  m_partnerName.clear();
  m_facing.count = 1;
  if (m_loadPlan.withPartner) {
    NoteShape(m_loadIndex, m_page.get());
    NoteShape(m_loadPlan.partnerIndex, loaded.partner.image.get());
  }
  if (loaded.spread) {
    m_shown = loaded.spread;
    m_facing = m_loadPlan.facing;
    m_partnerName = m_loadPlan.partnerName;
  } else if (!m_loadPlan.withPartner) {
    // Opened before its folder's layout was known.
    ComposeSpread();
  }
  if (m_partnerName == wasPartner) return;
  if (m_hooks.pathChanged) m_hooks.pathChanged();
}

void CInkbriteDoc::NotifyFullPage() {
  for (CInkbriteView* view : m_views) {
    if (view->HasShownPage()) view->OnFullPage();
  }
}

CInkbriteDoc::~CInkbriteDoc() = default;

const DibImage& CInkbriteDoc::Page() const {
  static const DibImage kNoPage;
  const std::shared_ptr<const DibImage> shown = SharedPage();
  return shown ? *shown : kNoPage;
}

void CInkbriteDoc::DeleteContents() {
  m_loader.Cancel();
  m_loadTicket = 0;
  m_loadingReduced = false;
  m_fullLoadDeferred = false;
  m_loadSource.reset();
  m_fittedAhead.reset();
  m_page.reset();
  m_shown.reset();
  m_partnerName.clear();
  m_greySource = 0;
  m_pageJpeg.reset();
}

void CInkbriteDoc::TakePage(DecodedPage page) {
  m_page = std::move(page.image);
  m_greySource = m_page ? page.grey : 0;
  m_pageJpeg = m_page ? page.jpeg : std::nullopt;
  if (m_page) {
    m_fittedAhead = std::move(page.fitted);
    m_fittedBoxWidth = page.fitBoxWidth;
    m_fittedBoxHeight = page.fitBoxHeight;
  }
}

std::shared_ptr<const DibImage> CInkbriteDoc::FittedAhead(int32_t width, int32_t height) const {
  // Of the page alone (a spread is composed afresh).
  if (m_shown || !m_page || width != m_fittedBoxWidth || height != m_fittedBoxHeight) return {};
  return m_fittedAhead;
}

int CInkbriteDoc::OnOpenDocument(const fs::path& path) {
  if (IsBookFile(path)) return OpenBook(path);
  if (OpenInBackground(path, nullptr, 0)) {
    m_entry.clear();
    return FinishOpening(true, QString(), path);
  }
  int ok = 0;
  DecodedPage failed;
  {
    WaitCursor wait;
    DeleteContents();
    // The page the viewer's start named, decoded while the window was built.
    if (std::optional<DecodedPage> early = EarlyPage::Take(path)) {
      m_page = std::move(early->image);
      m_greySource = early->grey;
      m_pageJpeg = early->jpeg;
      m_entry.clear();
      return FinishOpening(true, QString(), path);
    }
    try {
      auto page = std::make_shared<DibImage>();
      FileProbe probe(path);
      ok = LoadImageFile(probe, *page, &m_greySource, &failed.status);
      JpegQuantisers tables;
      if (ok && DetectImageFormat(probe) == kFormatJpeg && ReadJpegQuantisers(probe, tables)) {
        m_pageJpeg = tables;
      }
      if (ok) m_page = std::move(page);
    } catch (const std::exception&) {
      ok = 0;
    }
  }
  m_entry.clear();
  return FinishOpening(ok != 0, ReadFailureText(failed), path);
}

int CInkbriteDoc::OpenBook(const fs::path& path, std::string_view entry) {
  std::shared_ptr<PageSource> book = OpenBookOrSay(path);
  if (!book) return 0;
  // Where the reader left the book, unless a page is asked for.
  const std::string left = entry.empty() ? LoadReadingPlace(path).page : std::string();
  m_dirList.SetBook(std::move(book), entry.empty() ? std::string_view(left) : entry);
  LoadLayout();
  return OpenPage(m_dirList.PageAt(m_dirList.GetCurrentIndex()));
}

int CInkbriteDoc::OpenBookAt(const fs::path& path, BookStart start) {
  if (start == BookStart::kLeft) return OpenBook(path);
  std::shared_ptr<PageSource> book = OpenBookOrSay(path);
  if (!book) return 0;
  m_dirList.SetBook(std::move(book), {});
  LoadLayout();
  if (start == BookStart::kLast && m_dirList.GetCount() > 0) {
    const int last = m_dirList.GetCount();
    m_dirList.MoveTo(m_twoPages ? FacingAt(ListedShapes(), m_coverAlone, last - 1).first + 1
                                : last);
  }
  return OpenPage(m_dirList.PageAt(m_dirList.GetCurrentIndex()));
}

std::shared_ptr<PageSource> CInkbriteDoc::OpenBookOrSay(const fs::path& path) {
  SourceError error = SourceError::kNone;
  std::shared_ptr<PageSource> book;
  {
    WaitCursor wait;
    book = OpenBookSource(path, error);
  }
  if (!book) {
    // Nothing of the document changes: the book is refused as a whole.
    const std::string_view text = SourceErrorText(error, BookKindOf(path) == kFormatPdfBook);
    m_lastError = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (m_showReadError) ShowMessage(m_messageParent, m_lastError);
    return nullptr;
  }
  m_prefetch.Clear();
  return book;
}

Facing CInkbriteDoc::ShownSpread(const std::vector<PageShape>& shapes) const {
  const int current = m_dirList.GetCurrentIndex();
  return m_facing.first == current - 1 ? m_facing : FacingAt(shapes, m_coverAlone, current - 1);
}

bool CInkbriteDoc::AtBookEnd(Turn turn) const {
  const int count = m_dirList.GetCount();
  const int current = m_dirList.GetCurrentIndex();
  if (!IsBook() || count == 0 || current == 0) return false;
  const Facing shown = m_twoPages ? ShownSpread(ListedShapes()) : Facing{current - 1, 1};
  if (turn == Turn::kNext) return shown.last() + 1 >= count;
  if (turn == Turn::kPrevious) return shown.first <= 0;
  return false;
}

bool CInkbriteDoc::OpenNeighbourBook(Turn turn) {
  if (!IsBook() || (turn != Turn::kNext && turn != Turn::kPrevious)) return false;
  const fs::path book = NeighbourBook(m_path, turn == Turn::kNext ? 1 : -1);
  if (book.empty()) return false;
  return OpenBookAt(book, turn == Turn::kNext ? BookStart::kFirst : BookStart::kLast) != 0;
}

ListedPage CInkbriteDoc::TurnPage(Turn turn, int& index) {
  const int count = m_dirList.GetCount();
  const int current = m_dirList.GetCurrentIndex();
  if (!m_twoPages || count == 0 || current == 0) {
    switch (turn) {
      case Turn::kNext: return m_dirList.Next(index);
      case Turn::kPrevious: return m_dirList.Previous(index);
      case Turn::kFirst: return m_dirList.First(index);
      case Turn::kLast: return m_dirList.Last(index);
    }
  }
  const std::vector<PageShape> shapes = ListedShapes();
  // The spread shown; worked out again when the cursor moved otherwise.
  const Facing shown = ShownSpread(shapes);
  int target = 0;
  switch (turn) {
    case Turn::kNext:
      if (shown.last() + 1 >= count) {
        Beep();
        target = shown.first;
      } else {
        target = shown.last() + 1;
      }
      break;
    case Turn::kPrevious:
      if (shown.first <= 0) {
        Beep();
        target = 0;
      } else {
        target = FacingAt(shapes, m_coverAlone, shown.first - 1).first;
      }
      break;
    case Turn::kFirst: target = 0; break;
    case Turn::kLast: target = FacingAt(shapes, m_coverAlone, count - 1).first; break;
  }
  ListedPage page = m_dirList.MoveTo(target + 1);
  const bool forward = turn == Turn::kNext || turn == Turn::kLast;
  index = forward ? FacingAt(shapes, m_coverAlone, target).last() + 1 : target + 1;
  return page;
}

std::vector<PageShape> CInkbriteDoc::ListedShapes() const {
  std::vector<PageShape> shapes(static_cast<size_t>(m_dirList.GetCount()), PageShape::kUnknown);
  if (m_shapesSource != m_dirList.Source()) return shapes;
  for (size_t i = 0; i < shapes.size(); ++i) {
    const size_t index = m_dirList.PageAt(static_cast<int>(i) + 1).index;
    if (index < m_shapes.size()) shapes[i] = m_shapes[index];
  }
  return shapes;
}

void CInkbriteDoc::NoteShape(size_t sourceIndex, const DibImage* page) {
  if (page) NoteShape(sourceIndex, ShapeOf(*page));
}

void CInkbriteDoc::NoteShape(size_t sourceIndex, PageShape shape) {
  const std::shared_ptr<PageSource> source = m_dirList.Source();
  if (!source) return;
  if (m_shapesSource != source) {
    m_shapesSource = source;
    m_shapes.assign(source->PageCount(), PageShape::kUnknown);
  }
  if (sourceIndex < m_shapes.size()) m_shapes[sourceIndex] = shape;
}

void CInkbriteDoc::ComposeSpread() {
  m_shown.reset();
  m_partnerName.clear();
  const int current = m_dirList.GetCurrentIndex();
  m_facing = {current > 0 ? current - 1 : 0, 1};
  const std::shared_ptr<PageSource> source = m_dirList.Source();
  if (!source || current == 0) return;
  // The pages being decoded in the background are shown as planned.
  if (IsLoading()) {
    if (m_loadPlan.withPartner) {
      m_facing = m_loadPlan.facing;
      m_partnerName = m_loadPlan.partnerName;
    }
    return;
  }
  // Only when the page shown is the one under the cursor.
  const ListedPage here = m_dirList.PageAt(current);
  if (here.InBook() ? here.entry != m_entry : here.file != m_path) return;
  NoteShape(here.index, m_page.get());
  if (!m_twoPages || !m_page) return;
  const Facing facing = FacingAt(ListedShapes(), m_coverAlone, current - 1);
  if (facing.first != current - 1 || facing.count != 2) return;
  const ListedPage partner = m_dirList.PageAt(current + 1);
  DecodedPage other = m_prefetch.Take(source, partner.index);
  NoteShape(partner.index, other.image.get());
  // An unreadable page is shown alone when it is reached; a wide one
  // stands alone.
  if (!other.image || ShapeOf(*other.image) == PageShape::kWide) return;
  auto both = std::make_shared<DibImage>();
  if (!ComposeFacing(*m_page, *other.image, m_rightToLeft, *both)) return;
  m_shown = std::move(both);
  m_facing = facing;
  m_partnerName = partner.InBook() ? partner.entry : partner.file.filename().string();
}

void CInkbriteDoc::LoadLayout() {
  const fs::path& listed = m_dirList.Directory();
  if (listed.empty() || listed == m_layoutFor) return;
  m_layoutFor = listed;
  const ReadingPlace place = LoadReadingPlace(listed);
  if (place.layoutKnown) {
    m_twoPages = place.twoPages;
    m_coverAlone = place.coverAlone;
    m_rightToLeft = place.rightToLeft;
    return;
  }
  // One page at a time unless chosen; a manga book reads right to left.
  m_twoPages = false;
  m_coverAlone = false;
  const std::shared_ptr<PageSource> source = m_dirList.Source();
  m_rightToLeft = source && source->IsBook() && source->Info().rightToLeft;
}

void CInkbriteDoc::StoreLayout() {
  if (m_layoutFor.empty()) return;
  ReadingPlace place;
  place.page = IsBook() ? m_entry : m_path.filename().string();
  place.layoutKnown = true;
  place.twoPages = m_twoPages;
  place.coverAlone = m_coverAlone;
  place.rightToLeft = m_rightToLeft;
  SaveReadingPlace(m_layoutFor, place);
}

void CInkbriteDoc::OnListed() {
  const bool wasTwo = m_twoPages, wasRtl = m_rightToLeft;
  LoadLayout();
  if (m_twoPages || m_twoPages != wasTwo || m_rightToLeft != wasRtl) {
    ShowCurrentAgain();
  } else if (m_page) {
    RememberPlace();
  }
  // The views choose their layout for the folder now listed.
  for (CInkbriteView* view : std::vector<CInkbriteView*>(m_views)) view->OnListed();
}

void CInkbriteDoc::RememberPlace() {
  // Where the reader is in this folder or book: the page under the cursor.
  const ListedPage here = m_dirList.PageAt(m_dirList.GetCurrentIndex());
  if (here.empty() || (here.InBook() ? here.entry != m_entry : here.file != m_path)) return;
  ReadingPlace place;
  place.page = here.InBook() ? here.entry : here.file.filename().string();
  // How far in: the spread's last page counts as seen.
  place.number = m_twoPages ? ShownSpread(ListedShapes()).last() + 1 : m_dirList.GetCurrentIndex();
  place.count = m_dirList.GetCount();
  place.lastRead = QDateTime::currentSecsSinceEpoch();
  SaveReadingPlace(m_dirList.Directory(), place);
}

int CInkbriteDoc::ShowCurrentAgain() {
  const ListedPage page = m_dirList.PageAt(m_dirList.GetCurrentIndex());
  if (page.empty()) return 0;
  return OpenPage(page);
}

void CInkbriteDoc::SetTwoPages(bool on) {
  LoadLayout();
  m_twoPages = on;
  StoreLayout();
  ShowCurrentAgain();
}

void CInkbriteDoc::SetCoverAlone(bool on) {
  LoadLayout();
  m_coverAlone = on;
  StoreLayout();
  // The spread of the page shown may start a page earlier now.
  if (m_twoPages) {
    const int current = m_dirList.GetCurrentIndex();
    if (current > 0) {
      const Facing f = FacingAt(ListedShapes(), m_coverAlone, current - 1);
      m_dirList.MoveTo(f.first + 1);
    }
  }
  ShowCurrentAgain();
}

void CInkbriteDoc::SetRightToLeft(bool on) {
  LoadLayout();
  m_rightToLeft = on;
  StoreLayout();
  ShowCurrentAgain();
}

int CInkbriteDoc::OpenPage(const ListedPage& requested) {
  if (requested.empty()) return 0;
  const ListedPage page = SpreadStart(requested);
  const std::shared_ptr<PageSource> source = m_dirList.Source();
  if (!page.InBook() && (!source || source->IsBook())) return OnOpenDocument(page.file);
  if (OpenInBackground(page.file, source, page.index)) {
    m_entry = page.entry;
    return FinishOpening(true, QString(), page.file);
  }
  DecodedPage decoded;
  {
    WaitCursor wait;
    DeleteContents();
    decoded = m_prefetch.Take(source, page.index);
  }
  const QString error = ReadFailureText(decoded);
  const bool ok = decoded.image != nullptr;
  TakePage(std::move(decoded));
  m_entry = page.entry;
  return FinishOpening(ok, error, page.file);
}

ListedPage CInkbriteDoc::SpreadStart(const ListedPage& page) {
  // In the two-page layout the second page of a pair is shown with its
  // pair: the cursor goes to the pair's first page.
  const int current = m_dirList.GetCurrentIndex();
  if (!m_twoPages || current <= 1 || m_dirList.PageAt(current).index != page.index) return page;
  const Facing facing = FacingAt(ListedShapes(), m_coverAlone, current - 1);
  if (facing.first == current - 1) return page;
  return m_dirList.MoveTo(facing.first + 1);
}

void CInkbriteDoc::PrefetchNext(int count) {
  const std::shared_ptr<PageSource> source = m_dirList.Source();
  const int current = m_dirList.GetCurrentIndex();
  if (!source || current == 0) return;
  // After the spread shown: the two pages of the next one.
  const int lastShown = m_twoPages ? std::max(current, m_facing.last() + 1) : current;
  if (m_twoPages) count = std::max(count, 2);
  // Fitted ahead too, for the first window that fits pages.
  QSize box;
  for (const CInkbriteView* view : m_views) {
    if (view->IsFitToWindow()) {
      box = view->viewport()->size();
      break;
    }
  }
  m_prefetch.SetFitBox(box.width(), box.height());
  std::vector<size_t> pages;
  for (int i = 1; i <= count; ++i) {
    const ListedPage next = m_dirList.PageAt(lastShown + i);
    if (!next.empty()) pages.push_back(next.index);
  }
  m_prefetch.Want(source, m_dirList.PageAt(current).index, std::move(pages));
}

int CInkbriteDoc::FinishOpening(bool ok, const QString& error, const fs::path& path) {
  // A book's page that cannot be read is named: "book.cbz：02.jpg".
  m_lastError = ok ? QString()
                : IsBook() && !m_entry.empty()
                    ? QCoreApplication::translate("CInkbriteDoc", "%1：%2\n%3")
                          .arg(Qs(path.filename()), QString::fromStdString(m_entry), error)
                    : error;
  if (ok) {
    // The batch dialog starts in this page's folder (a book's folder).
    BatchFolders& folders = RememberedBatchFolders();
    folders.source = path.parent_path().empty() ? fs::path("/") : path.parent_path();
    if (folders.target.empty()) folders.target = folders.source;
  }
  // The path names the window and joins the recent files even when the file
  // could not be read.
  m_path = path;
  ComposeSpread();
  if (ok) RememberPlace();
  if (m_hooks.opened) m_hooks.opened(path);
  if (m_hooks.pathChanged) m_hooks.pathChanged();
  // Said on the status bar too, also where no message is shown.
  if (!ok && m_hooks.readFailed) m_hooks.readFailed(m_lastError);
  for (CInkbriteView* view : m_views) {
    if (view->HasShownPage()) view->OnInitialUpdate();
  }
  PrefetchNext();
  // Once the title names the page; the next page command goes on past it.
  if (!ok && m_showReadError) ShowMessage(m_messageParent, m_lastError);
  return ok ? 1 : 0;
}

int CInkbriteDoc::OnSaveDocument(const fs::path& path) {
  if (m_savingView == nullptr) return 1;
  CParaBlock params;
  params.Assign(m_savingView->WorkingSet());
  // The full page, never the reduced picture that stands for it meanwhile.
  FinishLoading();
  SaveResult result = SaveResult::kFailed;
  {
    WaitCursor wait;
    result = WriteEnhancedPage(path, params, m_savingView->SpreadPart());
  }
  // The reason first, then the failure itself.
  switch (result) {
    case SaveResult::kSaved: return 1;
    case SaveResult::kReducedFormat:
      ShowMessage(m_messageParent, QString::fromStdString(ReducedPagesOnlyText()));
      return 0;
    case SaveResult::kUnsupportedExtension:
      ShowMessage(m_messageParent, QString::fromStdString(UnsupportedSaveExtensionText()));
      break;
    case SaveResult::kNoMemory: ShowMessage(m_messageParent, UiText(kOutOfMemoryMessage)); break;
    case SaveResult::kFailed: break;
  }
  ShowMessage(m_messageParent, UiText(kSaveFailedMessage));
  return 0;
}

CInkbriteDoc::SaveResult CInkbriteDoc::WriteEnhancedPage(const fs::path& path,
                                                         const CParaBlock& block, int part) {
  // One snapshot for the whole save; the resize with the application-wide filter.
  const EnhanceSettings params(block, AppParams().GetValue(kResizeType));
  const int mode = params[kGreyScale];
  // Refused before the page is enhanced for nothing.
  if (IsReducedMode(ResolveKeepAsIs(mode, m_greySource != 0)) && !TakesReducedPages(path)) {
    return SaveResult::kReducedFormat;
  }
  try {
    // The full page from the file, enhanced and written exactly as the
    // batch job does (batch mode: greying and colour reduction happen in the
    // writing).
    DibImage page = m_page ? *m_page : DibImage();
    // The automatic source steps first, as the batch job runs them; of a
    // split spread, the page the window shows.
    DibImage second;
    PageFindings findings[2];
    // The JPEG clean-up with the page's own table, as the batch reads it.
    const JpegQuantisers* tables = m_pageJpeg ? &*m_pageJpeg : nullptr;
    if (PrepareSourcePages(params, page, second, findings, {}, {}, tables).pages == 2 &&
        part == 1) {
      page = std::move(second);
    }
    EnhanceHooks batchMode;
    batchMode.mode = EnhanceMode::kBatch;
    EnhanceImage(params, page, batchMode);
    SaveError error = SaveError::kNone;
    if (SavePageInColourMode(path, page, mode, m_greySource != 0, params[kJpegQuality], &error)) {
      return SaveResult::kSaved;
    }
    switch (error) {
      case SaveError::kUnsupportedExtension: return SaveResult::kUnsupportedExtension;
      case SaveError::kNoReducedPages: return SaveResult::kReducedFormat;
      default: return SaveResult::kFailed;
    }
  } catch (const std::bad_alloc&) {
    return SaveResult::kNoMemory;
  } catch (const std::exception&) {
    // A codec library's error is a failed save like any other: it must not
    // leave the command handler as an exception.
    return SaveResult::kFailed;
  }
}

bool CInkbriteDoc::ConfirmOverwritingSource() {
  if (!AskBeforeOverwritingSource()) return true;
  const QMessageBox::StandardButton answer =
      ShowMessage(m_messageParent, UiText(kOverwriteSourceQuestion),
                  QMessageBox::Yes | QMessageBox::No | QMessageBox::YesToAll);
  if (answer == QMessageBox::YesToAll) SetAskBeforeOverwritingSource(false);
  return answer == QMessageBox::Yes || answer == QMessageBox::YesToAll;
}

void CInkbriteDoc::OnFileSave() {
  if (m_path.empty()) return;
  // A book is never written: its page goes to a file of its own.
  if (IsBook()) {
    OnFileSaveAs();
    return;
  }
  if (HasWriter(m_path)) {
    // The file the page was read from is replaced only when the user agrees.
    if (ConfirmOverwritingSource()) OnSaveDocument(m_path);
    return;
  }
  if (ShowMessage(m_messageParent, UiText(kSaveAsJpegQuestion),
                  QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes) {
    fs::path jpeg = m_path;
    jpeg += PrimaryExtension(kFormatJpeg);  // a.gif becomes a.gif.jpg; the document keeps its path
    OnSaveDocument(jpeg);
  }
}

void CInkbriteDoc::OnFileSaveAs() {
  // The name without folder and last extension; the chosen type adds its own.
  // A book's page is offered under its own name, beside the book.
  const QString name = IsBook() ? Qs(fs::path(m_entry).stem()) : Qs(m_path.stem());
  CSaveAsDialog dialog(m_messageParent, CSaveAsDialog::Filters(), name);
  // The page's own folder (a book's page: the book's folder), never the
  // folder the dialog showed for another document.
  dialog.setDirectory(Qs(m_path.parent_path()));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  SaveAs(dialog.selectedFiles().front().toStdString());
}

int CInkbriteDoc::SaveAs(const fs::path& path) { return OnSaveDocument(path); }

void CInkbriteDoc::OnRefresh() {
  if (IsBook()) {
    // The book read again, the cursor on the page shown.
    SourceError error = SourceError::kNone;
    if (std::shared_ptr<PageSource> book = OpenBookSource(m_path, error)) {
      m_prefetch.Clear();
      m_dirList.SetBook(std::move(book), m_entry);
    }
  } else if (!m_path.empty()) {
    m_dirList.SetCurrentFile(m_path);
  }
  if (m_hooks.pathChanged) m_hooks.pathChanged();
}

QString CInkbriteDoc::Title() const {
  // Two pages shown: both names, "a.jpg, b.jpg".
  const QString partner = m_partnerName.empty()
                              ? QString()
                              : QStringLiteral(", ") + QString::fromStdString(m_partnerName);
  if (!IsBook() || m_entry.empty()) return Qs(m_path.filename()) + partner;
  // "book.cbz — 012.jpg (12/180)"; two pages "book.cbz — 012.jpg, 013.jpg (12-13/180)".
  const int current = m_dirList.GetCurrentIndex();
  const QString position = m_partnerName.empty()
                               ? QString::number(current)
                               : QStringLiteral("%1-%2").arg(current).arg(current + 1);
  return Qs(m_path.filename()) + QStringLiteral(" — ") + QString::fromStdString(m_entry) + partner +
         QStringLiteral(" (%1/%2)").arg(position).arg(m_dirList.GetCount());
}

void CInkbriteDoc::AddView(CInkbriteView* view) { m_views.push_back(view); }

void CInkbriteDoc::RemoveView(CInkbriteView* view) {
  std::erase(m_views, view);
  if (m_savingView == view) m_savingView = nullptr;
}

}  // namespace inkbrite
