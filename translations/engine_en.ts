<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>batch</name>
    <message>
        <source>%1＋此页：%2</source>
        <translation>%1 + this page: %2</translation>
    </message>
    <message>
        <source>“%1”的%2不是附加：%3</source>
        <translation>%2 of “%1” is no attachment: %3</translation>
    </message>
    <message>
        <source>已有另一个名为“%1”的设置，未导入它和它的附加</source>
        <translation>A different setting named “%1” exists already: it and its attachments were not imported</translation>
    </message>
    <message>
        <source>无法写入%1</source>
        <translation>Cannot write %1</translation>
    </message>
    <message>
        <source>无法读取%1</source>
        <translation>Cannot read %1</translation>
    </message>
    <message>
        <source>本次设置</source>
        <translation>this run's settings</translation>
    </message>
    <message>
        <source>设置“%1”未能存入%2</source>
        <translation>The setting “%1” could not be stored in %2</translation>
    </message>
    <message>
        <source>设置“%1”未能导出</source>
        <translation>The setting “%1” could not be exported</translation>
    </message>
    <message>
        <source>路径含有换行，未导出：%1</source>
        <translation>The path holds a line break and was not exported: %1</translation>
    </message>
    <message>
        <source>%1（%2）</source>
        <translation>%1 (%2)</translation>
    </message>
    <message>
        <source>附加的设置“%1”已不在设置文件中</source>
        <translation>the attached setting &quot;%1&quot; is no longer in the settings file</translation>
    </message>
    <message>
        <source>附加设置：</source>
        <translation>Attached setting: </translation>
    </message>
    <message>
        <source>%1个文件需要转换，
%2个文件转换成功。</source>
        <translation>Files to convert: %1,
files converted: %2.</translation>
    </message>
    <message>
        <source>目标目录中已有%1个同名文件，它们将被转换后的文件所覆盖。要继续吗？</source>
        <translation>The target folder already holds %1 files of the same names; the converted files will replace them. Continue?</translation>
    </message>
    <message>
        <source>请先选择存放源文件的目录。</source>
        <translation>Please choose the folder of the source files first.</translation>
    </message>
    <message>
        <source>请先选择存放新文件的目录。</source>
        <translation>Please choose the folder for the new files first.</translation>
    </message>
    <message>
        <source>抱歉，电子书的页面只能保存为JPEG、PNG或GIF格式，请重新选择。</source>
        <translation>Sorry, the pages of an e-book can only be saved as JPEG, PNG or GIF. Please choose again.</translation>
    </message>
    <message>
        <source>抱歉，减色后的图像只能保存为PNG格式，请重新选择。</source>
        <translation>Sorry, colour-reduced images can only be saved as PNG. Please choose again.</translation>
    </message>
    <message>
        <source>源目录与目标目录相同，源文件将被转换后的文件所覆盖。要继续吗？</source>
        <translation>The source and target folders are the same: the converted files will replace the source files. Continue?</translation>
    </message>
    <message>
        <source>抱歉，在源目录下没有可供转换的文件。</source>
        <translation>Sorry, the source folder holds no files to convert.</translation>
    </message>
    <message>
        <source>
您选择了中途停止。</source>
        <translation>
You stopped the conversion.</translation>
    </message>
    <message>
        <source>
您想看结果记录吗？</source>
        <translation>
Do you want to see the record?</translation>
    </message>
    <message>
        <source>文件读取失败：</source>
        <translation>Read failed: </translation>
    </message>
    <message>
        <source>文件写入失败：</source>
        <translation>Write failed: </translation>
    </message>
    <message>
        <source>文件重名未转换：</source>
        <translation>Not converted, name taken: </translation>
    </message>
    <message>
        <source>自动处理：</source>
        <translation>Automatic steps: </translation>
    </message>
    <message>
        <source>统计文件数</source>
        <translation>Counting files</translation>
    </message>
    <message>
        <source>读取</source>
        <translation>Reading</translation>
    </message>
    <message>
        <source>复制</source>
        <translation>Copying</translation>
    </message>
    <message>
        <source>减色</source>
        <translation>Reducing colours</translation>
    </message>
    <message>
        <source>存盘</source>
        <translation>Saving</translation>
    </message>
    <message>
        <source>原书不是ZIP格式，不会被替换</source>
        <translation>the original book is not a ZIP file and is not replaced</translation>
    </message>
    <message>
        <source>项已略去（链接或指向包外的文件名）</source>
        <translation> entries left out (links, or names pointing outside the book)</translation>
    </message>
    <message>
        <source>项已略去（超过大小限制）</source>
        <translation> entries left out (over the size limit)</translation>
    </message>
    <message>
        <source>项已略去（与前面的项同名）</source>
        <translation> entries left out (a name an earlier entry has)</translation>
    </message>
    <message>
        <source>分卷后仍超过大小限制（单页过大）</source>
        <translation>a volume is still over the size limit (a page alone is larger)</translation>
    </message>
    <message>
        <source>
书中有%1项已略去，见结果记录。</source>
        <translation>
%1 entries of books were left out; see the record.</translation>
    </message>
    <message>
        <source>
结果记录无法写入：%1（%2）</source>
        <translation>
The record cannot be written: %1 (%2).</translation>
    </message>
    <message>
        <source>文件夹无法读取：</source>
        <translation>Folder cannot be read: </translation>
    </message>
    <message>
        <source>内存不足，文件未转换：</source>
        <translation>Out of memory, not converted: </translation>
    </message>
    <message>
        <source>在第%1行穿过画面切开</source>
        <translation>cut through art at row %1</translation>
    </message>
</context>
<context>
    <name>cli</name>
    <message>
        <source>--export-attached最多只需要一个目录</source>
        <translation>--export-attached takes at most one folder</translation>
    </message>
    <message>
        <source>--import-attached不需要目录</source>
        <translation>--import-attached takes no folder</translation>
    </message>
    <message>
        <source>--list-attached、--export-attached和--import-attached只能选一个</source>
        <translation>Only one of --list-attached, --export-attached and --import-attached</translation>
    </message>
    <message>
        <source>从FILE读入设置和它们的附加（--export-attached
写的文件）；已有的同名而值不同的设置
保持不变，不导入</source>
        <translation>read settings and their attachments from FILE (as
--export-attached writes it); an existing setting of
the same name with other values is kept, not imported</translation>
    </message>
    <message>
        <source>已导入%1个设置、%2个附加</source>
        <translation>%1 settings and %2 attachments imported</translation>
    </message>
    <message>
        <source>已导出%1个设置、%2个附加</source>
        <translation>%1 settings and %2 attachments exported</translation>
    </message>
    <message>
        <source>把附加的设置（给出FOLDER时只导出它之下的）
以命名设置文件的格式写入FILE：每个设置
一节，附加写作AttachedTo1=…等键</source>
        <translation>write the attached settings (below FOLDER only when
given) to FILE in the named-settings file's format: a
section per setting, attachments as AttachedTo1=... keys</translation>
    </message>
    <message>
        <source>每本书用附加在它或它的系列（所在目录）上的
命名设置转换（书的优先），页面另有的设置
（只用于此页）加在上面；没有附加的书用本次的
设置；记录写明每本书和这些页面所用的设置</source>
        <translation>convert each book with the named setting attached to it or
to its series (its folder; the book&apos;s first), a page&apos;s own
settings (this page only) over it; a book with none takes
this run&apos;s settings; the record names each book&apos;s and page&apos;s</translation>
    </message>
    <message>
        <source>列出附加在系列和书上的设置（给出FOLDER时
只列它之下的）：series或book、设置名、路径</source>
        <translation>list the settings attached to series and books (with
FOLDER, those below it): series or book, name, path</translation>
    </message>
    <message>
        <source>--list-attached最多只需要一个目录</source>
        <translation>--list-attached takes at most one folder</translation>
    </message>
    <message>
        <source>/（书：其各页）</source>
        <translation>/ (book: its pages)</translation>
    </message>
    <message>
        <source>（书）</source>
        <translation> (book)</translation>
    </message>
    <message>
        <source>（不转换：前面的文件已有此目标）</source>
        <translation> (not converted: an earlier file has this target)</translation>
    </message>
    <message>
        <source>--files-from：无法读取%1</source>
        <translation>--files-from: cannot read %1</translation>
    </message>
    <message>
        <source>--files-from %1中没有列出文件</source>
        <translation>--files-from %1 lists no file</translation>
    </message>
    <message>
        <source>--merge-records：缺少%1个遍历序号（第一个是%2）：有部分运行没有完成或没有给出</source>
        <translation>--merge-records: %1 walk indexes missing (first %2): a part did not finish or was not given</translation>
    </message>
    <message>
        <source>--merge-records：无法写入%1</source>
        <translation>--merge-records: cannot write %1</translation>
    </message>
    <message>
        <source>第%1/%2份：</source>
        <translation>shard %1/%2: </translation>
    </message>
    <message>
        <source>%1个已转换，%2个失败，%3个跳过</source>
        <translation>%1 converted, %2 failed, %3 skipped</translation>
    </message>
    <message>
        <source>，%1个未转换（已停止）</source>
        <translation>, %1 not converted (stopped)</translation>
    </message>
    <message>
        <source>请用“inkbrite-batch --help”查看用法。</source>
        <translation>Try &apos;inkbrite-batch --help&apos;.</translation>
    </message>
    <message>
        <source>--pattern至少需要一个模式</source>
        <translation>--pattern needs at least one pattern</translation>
    </message>
    <message>
        <source>--ext必须是%1，而不是“%2”</source>
        <translation>--ext must be %1, not &quot;%2&quot;</translation>
    </message>
    <message>
        <source>（已拒绝：如要覆盖源文件，请加上--overwrite-source）</source>
        <translation>(refused: add --overwrite-source to overwrite the sources)</translation>
    </message>
    <message>
        <source>--set需要KEY=VALUE，而不是“%1”</source>
        <translation>--set needs KEY=VALUE, not &quot;%1&quot;</translation>
    </message>
    <message>
        <source>--set：未知的键“%1”</source>
        <translation>--set: unknown key &quot;%1&quot;</translation>
    </message>
    <message>
        <source>--set：%1的值超出范围：“%2”</source>
        <translation>--set: value of %1 out of range: &quot;%2&quot;</translation>
    </message>
    <message>
        <source>--books必须是epub、kepub、pdf、cbz、folder或skip，而不是“%1”</source>
        <translation>--books must be epub, kepub, pdf, cbz, folder or skip, not &quot;%1&quot;</translation>
    </message>
    <message>
        <source>没有名为“%1”的设备（见--list-devices）</source>
        <translation>no device named &quot;%1&quot; (see --list-devices)</translation>
    </message>
    <message>
        <source>按设备设置（见--list-devices）：适配屏幕的
大小、灰度或彩色、书的种类（未给--books时）
和PDF的分辨率；与--load、--set按顺序生效</source>
        <translation>a reading device&apos;s settings (see --list-devices): the
fit to its screen, grey or colour, the book kind (unless
--books is given) and the PDF&apos;s density; in order with --load, --set</translation>
    </message>
    <message>
        <source>列出已知的设备及其屏幕和书的种类</source>
        <translation>list the known devices, their screens and book kinds</translation>
    </message>
    <message>
        <source>跨页（宽于高的页面）：split拆成两页（按阅读
顺序）；rotate转90度以占满竖屏；both先给
转过的整页，再给拆开的两页；keep保持原样
（默认：按设置的SplitSpreads）</source>
        <translation>spreads (pages wider than tall): split: two pages
in reading order; rotate: turned to fill an upright
screen; both: turned, then its two pages; keep: whole
(default: as the SplitSpreads setting says)</translation>
    </message>
    <message>
        <source>--spreads必须是split、rotate、both或keep，而不是“%1”</source>
        <translation>--spreads must be split, rotate, both or keep, not &quot;%1&quot;</translation>
    </message>
    <message>
        <source>CBZ（或书的目录）中的页面按阅读顺序改名为
0001.jpg……（--device也会这样做）</source>
        <translation>the pages of a CBZ (or a book&apos;s folder) renamed
0001.jpg ... in reading order (--device does so too)</translation>
    </message>
    <message>
        <source>每个含有页面的目录转换为一本以它命名的书
（--books为cbz、epub、kepub或pdf时）</source>
        <translation>each folder that holds pages becomes one book
named after it (--books cbz, epub, kepub or pdf)</translation>
    </message>
    <message>
        <source>一本书（cbz、epub、kepub、pdf）超过MB兆字节
（10^6字节）时分为几卷，每卷都是完整的书
（“书名 Vol. 2”）</source>
        <translation>a book (cbz, epub, kepub, pdf) larger than MB
megabytes (10^6 bytes) is split into volumes,
each a whole book (&quot;Title Vol. 2&quot;)</translation>
    </message>
    <message>
        <source>--max-size必须是1到1000000（MB），而不是“%1”</source>
        <translation>--max-size must be 1 to 1000000 (MB), not &quot;%1&quot;</translation>
    </message>
    <message>
        <source>电子书和PDF的书名（默认：ComicInfo.xml的，
否则为书的文件名）</source>
        <translation>the title of e-books and PDF files (default: the
ComicInfo.xml&apos;s, else the book&apos;s file name)</translation>
    </message>
    <message>
        <source>电子书和PDF的系列名（默认：ComicInfo.xml的，
否则取自文件名，如“Series v03 c012”）</source>
        <translation>the series of e-books and PDF files (default: the
ComicInfo.xml&apos;s, else from the file name, as in &quot;Series v03 c012&quot;)</translation>
    </message>
    <message>
        <source>电子书和PDF的作者（以逗号分隔多人；
默认：ComicInfo.xml的作者和画师）</source>
        <translation>the authors of e-books and PDF files (several separated
by commas; default: the ComicInfo.xml&apos;s writers and artists)</translation>
    </message>
    <message>
        <source>--jobs必须是1到%1，而不是“%2”</source>
        <translation>--jobs must be 1 to %1, not &quot;%2&quot;</translation>
    </message>
    <message>
        <source>--record-format必须是text或jsonl，而不是“%1”</source>
        <translation>--record-format must be text or jsonl, not &quot;%1&quot;</translation>
    </message>
    <message>
        <source>--lang必须是zh或en，而不是“%1”</source>
        <translation>--lang must be zh or en, not &quot;%1&quot;</translation>
    </message>
    <message>
        <source>源文件模式，以“;”分隔
（默认：%1）</source>
        <translation>source patterns, &apos;;&apos;-separated
(default: %1)</translation>
    </message>
    <message>
        <source>输出格式：%1（默认%2）</source>
        <translation>output format: %1 (default %2)</translation>
    </message>
    <message>
        <source>也搜索子目录（默认）</source>
        <translation>search subfolders too (default)</translation>
    </message>
    <message>
        <source>只搜索源目录本身</source>
        <translation>the source folder only</translation>
    </message>
    <message>
        <source>从名为NAME的设置开始（未给--ext时也用它的
格式）；设置文件中没有现成的eink-6-1072x1448、
eink-7-1264x1680和tablet-10-1600x2560时
会加入它们</source>
        <translation>start from the named setting NAME (with no --ext, its
format too); the ready-made eink-6-1072x1448,
eink-7-1264x1680 and tablet-10-1600x2560 are added
to the settings file when it lacks them</translation>
    </message>
    <message>
        <source>--load所用的设置文件（默认：Inkbrite.ini）</source>
        <translation>settings file for --load (default: Inkbrite.ini)</translation>
    </message>
    <message>
        <source>一项设置，例如Brightness=120（可重复；
--load与--set按顺序生效，后面的为准）</source>
        <translation>one setting, e.g. Brightness=120 (repeatable;
--load and --set apply in order, later ones win)</translation>
    </message>
    <message>
        <source>彩色页面只复制，不转换</source>
        <translation>copy colour pages instead of converting them</translation>
    </message>
    <message>
        <source>允许TARGET_DIR就是源目录</source>
        <translation>allow TARGET_DIR to be the source folder</translation>
    </message>
    <message>
        <source>结果记录（默认：Inkbrite_Rcd.txt；部分运行的：
Inkbrite_Rcd.shard-K-of-N.txt；JSON行格式用.jsonl）</source>
        <translation>the result record (default: Inkbrite_Rcd.txt; of a part:
Inkbrite_Rcd.shard-K-of-N.txt; .jsonl for JSON lines)</translation>
    </message>
    <message>
        <source>text（默认：失败的文件）或jsonl（每个文件一个JSON
对象：source、target、result、reason、大小、毫秒）</source>
        <translation>text (default: the failures) or jsonl (one JSON object
per file: source, target, result, reason, sizes, ms)</translation>
    </message>
    <message>
        <source>同时记录自动处理在每个写出的页面上的发现
（纠斜、分页、裁边、色阶、适配）</source>
        <translation>also record what the automatic steps found on each
written page (deskew, split, crop, levels, fit)</translation>
    </message>
    <message>
        <source>源文件中的漫画书（%1）：
cbz：每本转换为一个.cbz（默认）；
epub：固定版式的EPUB 3；kepub：Kobo的.kepub.epub；
pdf：每页一张图的PDF；
folder：转换到以书名命名的目录；skip：略过</source>
        <translation>comic books (%1) among the sources:
cbz: each into a .cbz of its converted pages (default);
epub: a fixed-layout EPUB 3; kepub: Kobo&apos;s .kepub.epub;
pdf: a PDF of a picture per page;
folder: into a folder named after the book; skip: left out</translation>
    </message>
    <message>
        <source>同时转换的文件（及书页）数（默认：处理器
核心数）；无论N为多少，写出的文件都相同</source>
        <translation>files (and a book&apos;s pages) converted at once (default: the
number of cores); the written files are the same for every N</translation>
    </message>
    <message>
        <source>只转换N份中的第K份（K从0起），按每个路径的
散列值划分；auto或auto/N：份号取自Slurm作业
数组或Kubernetes Indexed Job</source>
        <translation>convert only part K of N (K from 0), chosen by a hash of
each path; auto or auto/N: the part from a Slurm job
array or a Kubernetes Indexed Job</translation>
    </message>
    <message>
        <source>跳过已转换的文件：目标文件比源文件新；
用--record-format jsonl时还要求同一记录中
上次运行以相同设置转换了它</source>
        <translation>skip files already converted: the target is newer
than the source; with --record-format jsonl the earlier
run into the same record must also have converted it
with the same settings</translation>
    </message>
    <message>
        <source>转换FILE中列出的文件（&apos;-&apos;：标准输入），
相对于SOURCE_DIR，每行一个或以NUL分隔</source>
        <translation>convert the files FILE lists (&apos;-&apos;: standard input),
relative to SOURCE_DIR, one a line or NUL-separated</translation>
    </message>
    <message>
        <source>--files-from需要一个文件</source>
        <translation>--files-from needs a file</translation>
    </message>
    <message>
        <source>列出工作清单（SOURCE&lt;TAB&gt;TARGET行），
不转换</source>
        <translation>print the work list (SOURCE&lt;TAB&gt;TARGET lines); convert
nothing</translation>
    </message>
    <message>
        <source>同上，每条以NUL结尾</source>
        <translation>the same, each record ended by a NUL</translation>
    </message>
    <message>
        <source>按遍历顺序合并所列（--shard运行的）记录，
写入--record FILE或标准输出</source>
        <translation>merge the records named (of --shard runs) in walk order,
into --record FILE or standard output</translation>
    </message>
    <message>
        <source>列出将要读取和写入的文件，不写任何文件</source>
        <translation>list what would be read and written; write nothing</translation>
    </message>
    <message>
        <source>不显示进度，全部成功时也不显示总结</source>
        <translation>no progress and no summary of a clean run</translation>
    </message>
    <message>
        <source>消息和结果记录各行的语言：
zh（中文）或en（英文）；默认：INKBRITE_LANG，
否则按区域设置（zh*为中文，其他为英文）</source>
        <translation>language of the messages and of the record&apos;s lines:
zh (Chinese) or en (English); default: INKBRITE_LANG,
else the locale (zh* Chinese, any other English)</translation>
    </message>
    <message>
        <source>转换所列的FILE而不是一个目录，存入TARGET_DIR</source>
        <translation>convert the FILEs named instead of a folder, into TARGET_DIR</translation>
    </message>
    <message>
        <source>显示本说明</source>
        <translation>this text</translation>
    </message>
    <message>
        <source>显示程序的版本</source>
        <translation>the program&apos;s version</translation>
    </message>
    <message>
        <source>未知的选项：%1</source>
        <translation>unknown option: %1</translation>
    </message>
    <message>
        <source>选项%1不带值</source>
        <translation>option %1 takes no value</translation>
    </message>
    <message>
        <source>选项%1需要一个值</source>
        <translation>option %1 needs a value</translation>
    </message>
    <message>
        <source>--merge-records至少需要一个RECORD</source>
        <translation>--merge-records needs at least one RECORD</translation>
    </message>
    <message>
        <source>--files-from列出的是SOURCE_DIR下的文件，不能与--target同用</source>
        <translation>--files-from lists files below SOURCE_DIR; it does not go with --target</translation>
    </message>
    <message>
        <source>--target需要一个目录和至少一个FILE</source>
        <translation>--target needs a folder and at least one FILE</translation>
    </message>
    <message>
        <source>需要SOURCE_DIR TARGET_DIR（或--target TARGET_DIR FILE...）</source>
        <translation>expected SOURCE_DIR TARGET_DIR (or --target TARGET_DIR FILE...)</translation>
    </message>
    <message>
        <source>--dry-run与--list不能同用</source>
        <translation>--dry-run and --list do not go together</translation>
    </message>
    <message>
        <source>%2中没有名为“%1”的设置</source>
        <translation>no named setting &quot;%1&quot; in %2</translation>
    </message>
    <message>
        <source>设置值超出范围：第%1项为%2</source>
        <translation>setting value out of range in slot %1: %2</translation>
    </message>
    <message>
        <source>用法：inkbrite-batch [选项] SOURCE_DIR TARGET_DIR
      inkbrite-batch [选项] --target TARGET_DIR FILE...
      inkbrite-batch [--record FILE] --merge-records RECORD...

把一个目录中的页面（或选定的文件）转换为增强后的副本。

选项：
</source>
        <translation>Usage: inkbrite-batch [options] SOURCE_DIR TARGET_DIR
       inkbrite-batch [options] --target TARGET_DIR FILE...
       inkbrite-batch [--record FILE] --merge-records RECORD...

Converts a folder of pages (or the picked files) into enhanced copies.

Options:
</translation>
    </message>
    <message>
        <source>
退出状态：0 全部转换成功，1 有文件失败，2 拒绝运行，3 结果记录
无法写入或完成；被信号停止时：130（Ctrl-C，SIGINT），
143（SIGTERM），129（SIGHUP）。部分运行（--shard）按它自己的
文件退出。
</source>
        <translation>
Exit status: 0 all converted, 1 some failed, 2 refused, 3 the record could
not be written or completed; stopped by a signal: 130 (Ctrl-C, SIGINT),
143 (SIGTERM), 129 (SIGHUP). A part (--shard) exits for its own files.
</translation>
    </message>
    <message>
        <source>结果记录：%1</source>
        <translation>record: %1</translation>
    </message>
    <message>
        <source>文件：%1</source>
        <translation>file: %1</translation>
    </message>
    <message>
        <source>--skip-existing不能接续以源目录本身为目标的转换</source>
        <translation>--skip-existing cannot resume a conversion into the source folder itself</translation>
    </message>
    <message>
        <source>%1：无法读取</source>
        <translation>%1: cannot be read</translation>
    </message>
    <message>
        <source>%1：JSON行格式的记录混在文本记录中</source>
        <translation>%1: a JSON lines record among text records</translation>
    </message>
    <message>
        <source>%1：文本记录混在JSON行格式的记录中</source>
        <translation>%1: a text record among JSON lines records</translation>
    </message>
    <message>
        <source>%1：没有“index”</source>
        <translation>%1: no &quot;index&quot;</translation>
    </message>
    <message>
        <source>%1：没有遍历序号（只能合并--shard运行的记录）</source>
        <translation>%1: no walk index (only the records of --shard runs can be merged)</translation>
    </message>
    <message>
        <source>遍历序号%1既在%2中，也在%3中：各部分重叠</source>
        <translation>walk index %1 is in %2 and in %3: the shards overlap</translation>
    </message>
    <message>
        <source>--shard需要K/N，其中0 &lt;= K &lt; N（或auto、auto/N），而不是“%1”</source>
        <translation>--shard needs K/N with 0 &lt;= K &lt; N (or auto, auto/N), not &quot;%1&quot;</translation>
    </message>
    <message>
        <source>未知的转义“\%1”</source>
        <translation>unknown escape &quot;\%1&quot;</translation>
    </message>
    <message>
        <source>缺少结尾的引号</source>
        <translation>no closing quote</translation>
    </message>
    <message>
        <source>结尾的引号后还有文字</source>
        <translation>text after the closing quote</translation>
    </message>
    <message>
        <source>第%1条：%2</source>
        <translation>record %1: %2</translation>
    </message>
    <message>
        <source>第%1条：“%2”不是源目录下的路径</source>
        <translation>record %1: &quot;%2&quot; is not a path below the source folder</translation>
    </message>
    <message>
        <source>%1不是数字：“%2”</source>
        <translation>%1 is not a number: &quot;%2&quot;</translation>
    </message>
    <message>
        <source>--shard auto：SLURM_ARRAY_TASK_ID %1不在作业数组的范围内（最小%2，步长%3）</source>
        <translation>--shard auto: SLURM_ARRAY_TASK_ID %1 is not in the array&apos;s range (min %2, step %3)</translation>
    </message>
    <message>
        <source>--shard auto/%1：作业数组有%2个任务（SLURM_ARRAY_TASK_COUNT）</source>
        <translation>--shard auto/%1: the array has %2 tasks (SLURM_ARRAY_TASK_COUNT)</translation>
    </message>
    <message>
        <source>--shard auto：没有设置SLURM_ARRAY_TASK_COUNT；请给出份数：--shard auto/N</source>
        <translation>--shard auto: SLURM_ARRAY_TASK_COUNT is not set; give the count: --shard auto/N</translation>
    </message>
    <message>
        <source>--shard auto：JOB_COMPLETION_INDEX不含份数；请给出份数：--shard auto/N</source>
        <translation>--shard auto: JOB_COMPLETION_INDEX gives no count; give it: --shard auto/N</translation>
    </message>
    <message>
        <source>--shard auto：SLURM_ARRAY_TASK_ID和JOB_COMPLETION_INDEX都没有设置</source>
        <translation>--shard auto: neither SLURM_ARRAY_TASK_ID nor JOB_COMPLETION_INDEX is set</translation>
    </message>
    <message>
        <source>--shard auto：%2个任务中的第%1个不是作业的一部分</source>
        <translation>--shard auto: task %1 of %2 is not a part of the job</translation>
    </message>
    <message>
        <source>--shard需要K/N、auto或auto/N，其中1 &lt;= N &lt;= %1，而不是“%2”</source>
        <translation>--shard needs K/N, auto or auto/N with 1 &lt;= N &lt;= %1, not &quot;%2&quot;</translation>
    </message>
    <message>
        <source>，%1项已略去</source>
        <translation>, %1 entries left out</translation>
    </message>
    <message>
        <source>结果记录无法写入：%1：%2</source>
        <translation>the record cannot be written: %1: %2</translation>
    </message>
    <message>
        <source>（跳过：记录中以相同设置转换、目标文件比源文件新）</source>
        <translation> (skipped: converted with the same settings by the record, target newer than source)</translation>
    </message>
    <message>
        <source>（跳过：目标文件比源文件新）</source>
        <translation> (skipped: target newer than source)</translation>
    </message>
    <message>
        <source>现成的设置无法写入%1（无法读写，或文件将超过其上限）</source>
        <translation>the ready-made settings cannot be added to %1 (it cannot be read or written, or it would grow past its limit)</translation>
    </message>
    <message>
        <source>
--set的键（KEY）：
</source>
        <translation>
keys of --set (KEY):
</translation>
    </message>
    <message>
        <source>--set：%1的值不是整数：“%2”</source>
        <translation>--set: the value of %1 is not a whole number: "%2"</translation>
    </message>
    <message>
        <source>（可能分成_1和_2两页）</source>
        <translation> (may be split into _1 and _2)</translation>
    </message>
    <message>
        <source>源目录不是目录：%1</source>
        <translation>the source is not a folder: %1</translation>
    </message>
    <message>
        <source>源目录不存在：%1</source>
        <translation>the source folder does not exist: %1</translation>
    </message>
    <message>
        <source>--strip-cut screen需要屏幕的高度（--device或FitHeight设置）</source>
        <translation>--strip-cut screen needs a screen height (--device or the FitHeight setting)</translation>
    </message>
    <message>
        <source>--strip-cut必须是16到65535的高度或screen，而不是“%1”</source>
        <translation>--strip-cut must be a height of 16 to 65535 or screen, not "%1"</translation>
    </message>
    <message>
        <source>--strip-join需要--strip-cut</source>
        <translation>--strip-join needs --strip-cut</translation>
    </message>
    <message>
        <source>长条漫画：比HEIGHT（适配和缩放后的像素，
screen：设备屏幕的高度）高的页面切成多页，
name_001……，尽量切在画格间的空白处</source>
        <translation>long strips: a page taller than HEIGHT (pixels after
fitting and resizing; screen: the device's screen
height) is cut into pages name_001 ..., in gutters</translation>
    </message>
    <message>
        <source>与--strip-cut一起：每个目录或书的页面先接成
一长条再切开，跨两张图的画格保持完整</source>
        <translation>with --strip-cut: each folder's or book's pages are
joined into one strip first, so panels stay whole</translation>
    </message>
</context>
<context>
    <name>core</name>
    <message>
        <source>智能放大</source>
        <translation>Learned upscaling</translation>
    </message>
    <message>
        <source>完成</source>
        <translation>done</translation>
    </message>
    <message>
        <source>不变</source>
        <translation>unchanged</translation>
    </message>
    <message>
        <source>(把握 %1)</source>
        <translation>(%1 sure)</translation>
    </message>
    <message>
        <source>第%1列 %2/2</source>
        <translation>column %1 %2/2</translation>
    </message>
    <message>
        <source>切边</source>
        <translation>Crop</translation>
    </message>
    <message>
        <source>色阶</source>
        <translation>Levels</translation>
    </message>
    <message>
        <source>缩至 %1×%2</source>
        <translation>Fit %1×%2</translation>
    </message>
    <message>
        <source>纠斜</source>
        <translation>Deskew</translation>
    </message>
    <message>
        <source>分页</source>
        <translation>Split</translation>
    </message>
    <message>
        <source>自动切边</source>
        <translation>Auto crop</translation>
    </message>
    <message>
        <source>自动色阶</source>
        <translation>Auto levels</translation>
    </message>
    <message>
        <source>适应屏幕</source>
        <translation>Fit screen</translation>
    </message>
    <message>
        <source>去污点</source>
        <translation>Despeckle</translation>
    </message>
    <message>
        <source>去网纹</source>
        <translation>Descreen</translation>
    </message>
    <message>
        <source>JPEG去块</source>
        <translation>JPEG clean-up</translation>
    </message>
    <message>
        <source>放大</source>
        <translation>Enlarge</translation>
    </message>
    <message>
        <source>锐化</source>
        <translation>Sharpen</translation>
    </message>
    <message>
        <source>曲线调节</source>
        <translation>Curve</translation>
    </message>
    <message>
        <source>调节亮度</source>
        <translation>Brightness</translation>
    </message>
    <message>
        <source>调节高亮度</source>
        <translation>Highlight</translation>
    </message>
    <message>
        <source>调节对比度</source>
        <translation>Contrast</translation>
    </message>
    <message>
        <source>Gamma校正</source>
        <translation>Gamma</translation>
    </message>
    <message>
        <source>柔化</source>
        <translation>Soften</translation>
    </message>
    <message>
        <source>缩小</source>
        <translation>Reduce</translation>
    </message>
</context>
<context>
    <name>formats</name>
    <message>
        <source>或</source>
        <translation> or </translation>
    </message>
    <message>
        <source>、</source>
        <translation>, </translation>
    </message>
    <message>
        <source>抱歉，保存的文件名只能以%1为扩展名，请更正。</source>
        <translation>Sorry, a saved file name must end in %1. Please correct it.</translation>
    </message>
    <message>
        <source>抱歉，减色后的图像只能保存为%1格式，请重新选择。</source>
        <translation>Sorry, a picture with reduced colours can only be saved as %1. Please choose again.</translation>
    </message>
</context>
<context>
    <name>platform</name>
    <message>
        <source>不是能读取的图像格式</source>
        <translation>not a picture format this program reads</translation>
    </message>
    <message>
        <source>文件已损坏或不完整</source>
        <translation>the file is damaged or incomplete</translation>
    </message>
    <message>
        <source>图像的边长超过65535像素的上限</source>
        <translation>a side of the picture is over the limit of 65535 pixels</translation>
    </message>
    <message>
        <source>图像超过2^28像素的上限</source>
        <translation>the picture is over the limit of 2^28 pixels</translation>
    </message>
    <message>
        <source>超过2 GiB的上限</source>
        <translation>over the limit of 2 GiB</translation>
    </message>
    <message>
        <source>解码所需的内存超过上限</source>
        <translation>decoding it needs more memory than the limit</translation>
    </message>
    <message>
        <source>文件太小，容不下它声称的图像</source>
        <translation>the file is too small to hold the picture it claims</translation>
    </message>
    <message>
        <source>超过该格式自身的上限</source>
        <translation>over a limit of the format's own</translation>
    </message>
    <message>
        <source>读取时间超过上限</source>
        <translation>reading it took longer than the limit</translation>
    </message>
    <message>
        <source>超过内存用量的上限</source>
        <translation>over the memory limit</translation>
    </message>
    <message>
        <source>内存不足</source>
        <translation>out of memory</translation>
    </message>
    <message>
        <source>系统错误：%1</source>
        <translation>system error: %1</translation>
    </message>
    <message>
        <source>不支持文件所用的功能</source>
        <translation>the file uses a feature this program does not support</translation>
    </message>
    <message>
        <source>读取该格式的模块缺失或无法加载</source>
        <translation>the module that reads this format is missing or cannot be loaded</translation>
    </message>
</context>
<context>
    <name>settings</name>
    <message>
        <source>智能放大降噪</source>
        <translation>Learned upscale and denoise</translation>
    </message>
    <message>
        <source>放大倍数</source>
        <translation>Scale</translation>
    </message>
    <message>
        <source>精细模型（较慢）</source>
        <translation>Quality model (slower)</translation>
    </message>
    <message>
        <source>降噪等级</source>
        <translation>Noise reduction level</translation>
    </message>
    <message>
        <source>漫画书转为</source>
        <translation>Books become</translation>
    </message>
    <message>
        <source>每个目录转为一本书</source>
        <translation>Each folder becomes one book</translation>
    </message>
    <message>
        <source>跨页拆分方式</source>
        <translation>How spreads are split</translation>
    </message>
    <message>
        <source>页面按阅读顺序编号</source>
        <translation>Pages numbered in reading order</translation>
    </message>
    <message>
        <source>亮度</source>
        <translation>Brightness</translation>
    </message>
    <message>
        <source>对比度</source>
        <translation>Contrast</translation>
    </message>
    <message>
        <source>高亮度</source>
        <translation>Highlight gain</translation>
    </message>
    <message>
        <source>高亮度阈值</source>
        <translation>Highlight threshold</translation>
    </message>
    <message>
        <source>Gamma校正</source>
        <translation>Gamma</translation>
    </message>
    <message>
        <source>缩放</source>
        <translation>Resize</translation>
    </message>
    <message>
        <source>Jpg质量</source>
        <translation>JPEG quality</translation>
    </message>
    <message>
        <source>曲线第一点X</source>
        <translation>Curve, first point X</translation>
    </message>
    <message>
        <source>曲线第二点X</source>
        <translation>Curve, second point X</translation>
    </message>
    <message>
        <source>曲线第一点Y</source>
        <translation>Curve, first point Y</translation>
    </message>
    <message>
        <source>曲线第二点Y</source>
        <translation>Curve, second point Y</translation>
    </message>
    <message>
        <source>颜色模式</source>
        <translation>Colour mode</translation>
    </message>
    <message>
        <source>锐化</source>
        <translation>Sharpen</translation>
    </message>
    <message>
        <source>柔化</source>
        <translation>Soften</translation>
    </message>
    <message>
        <source>缩放方式</source>
        <translation>Resampling filter</translation>
    </message>
    <message>
        <source>源文件类型</source>
        <translation>Source file types</translation>
    </message>
    <message>
        <source>目标文件格式</source>
        <translation>Target format</translation>
    </message>
    <message>
        <source>左边切除</source>
        <translation>Cut from the left</translation>
    </message>
    <message>
        <source>右边切除</source>
        <translation>Cut from the right</translation>
    </message>
    <message>
        <source>上边切除</source>
        <translation>Cut from the top</translation>
    </message>
    <message>
        <source>下边切除</source>
        <translation>Cut from the bottom</translation>
    </message>
    <message>
        <source>自动色阶</source>
        <translation>Auto levels</translation>
    </message>
    <message>
        <source>色阶两端忽略</source>
        <translation>Levels: share ignored at each end</translation>
    </message>
    <message>
        <source>色阶最多移动</source>
        <translation>Levels: most a point moves</translation>
    </message>
    <message>
        <source>去除纸色</source>
        <translation>Remove the paper's tint</translation>
    </message>
    <message>
        <source>自动切边</source>
        <translation>Auto crop</translation>
    </message>
    <message>
        <source>切边留边</source>
        <translation>Crop: paper kept</translation>
    </message>
    <message>
        <source>切边容差</source>
        <translation>Crop: ink tolerance</translation>
    </message>
    <message>
        <source>切边最少保留</source>
        <translation>Crop: least share kept</translation>
    </message>
    <message>
        <source>对页同框</source>
        <translation>Crop: facing pages share one box</translation>
    </message>
    <message>
        <source>拆分跨页</source>
        <translation>Split spreads</translation>
    </message>
    <message>
        <source>从右到左</source>
        <translation>Right page first</translation>
    </message>
    <message>
        <source>纠斜</source>
        <translation>Deskew</translation>
    </message>
    <message>
        <source>纠斜范围</source>
        <translation>Deskew: largest angle</translation>
    </message>
    <message>
        <source>屏幕宽度</source>
        <translation>Screen width</translation>
    </message>
    <message>
        <source>屏幕高度</source>
        <translation>Screen height</translation>
    </message>
    <message>
        <source>填充纸色</source>
        <translation>Crop: fill the margins with paper</translation>
    </message>
    <message>
        <source>最大污点</source>
        <translation>Largest speck</translation>
    </message>
    <message>
        <source>去网纹强度</source>
        <translation>Descreen strength</translation>
    </message>
    <message>
        <source>保留大网点</source>
        <translation>Keep big dots</translation>
    </message>
    <message>
        <source>JPEG去块</source>
        <translation>JPEG clean-up</translation>
    </message>
    <message>
        <source>修复</source>
        <translation>Restore</translation>
    </message>
    <message>
        <source>备用</source>
        <translation>Spare</translation>
    </message>
    <message>
        <source>搜索子目录</source>
        <translation>Search subfolders</translation>
    </message>
    <message>
        <source>自动翻页间隔</source>
        <translation>Auto-play interval</translation>
    </message>
    <message>
        <source>打开文件时预览</source>
        <translation>Preview in the open dialog</translation>
    </message>
    <message>
        <source>曲线调节</source>
        <translation>Curve</translation>
    </message>
    <message>
        <source>切边</source>
        <translation>Crop</translation>
    </message>
    <message>
        <source>其它</source>
        <translation>Other</translation>
    </message>
    <message>
        <source>自动</source>
        <translation>Auto</translation>
    </message>
</context>
<context>
    <name>sources</name>
    <message>
        <source>书库数据库已损坏，且无法改名：%1</source>
        <translation>The library database is damaged and cannot be renamed: %1</translation>
    </message>
    <message>
        <source>书库数据库已损坏，已改名为%1，重新开始。</source>
        <translation>The library database was damaged; it was renamed to %1 and begun afresh.</translation>
    </message>
    <message>
        <source>书库数据库正被另一个程序占用：%1</source>
        <translation>The library database is held by another program: %1</translation>
    </message>
    <message>
        <source>书库数据库无法打开：%1（%2）</source>
        <translation>The library database cannot be opened: %1 (%2)</translation>
    </message>
    <message>
        <source>书库数据库无法写入：%1（%2）</source>
        <translation>The library database cannot be written: %1 (%2)</translation>
    </message>
    <message>
        <source>此系列</source>
        <translation>this series</translation>
    </message>
    <message>
        <source>此书</source>
        <translation>this book</translation>
    </message>
    <message>
        <source>文件无法打开。</source>
        <translation>The file cannot be opened.</translation>
    </message>
    <message>
        <source>无法识别的压缩包格式。</source>
        <translation>Unknown archive format.</translation>
    </message>
    <message>
        <source>加密的PDF文件无法读取。</source>
        <translation>Encrypted PDF files cannot be read.</translation>
    </message>
    <message>
        <source>加密的压缩包无法读取。</source>
        <translation>Encrypted archives cannot be read.</translation>
    </message>
    <message>
        <source>PDF文件已损坏，无法读取。</source>
        <translation>The PDF file is damaged and cannot be read.</translation>
    </message>
    <message>
        <source>压缩包已损坏，无法读取。</source>
        <translation>The archive is damaged and cannot be read.</translation>
    </message>
    <message>
        <source>PDF文件中没有页面。</source>
        <translation>The PDF file has no pages.</translation>
    </message>
    <message>
        <source>压缩包中没有可显示的图像。</source>
        <translation>The archive holds no images to show.</translation>
    </message>
    <message>
        <source>分卷压缩包的一部分无法单独读取。</source>
        <translation>One volume of a multi-volume archive cannot be read on its own.</translation>
    </message>
    <message>
        <source>压缩包中的文件过多，无法读取。</source>
        <translation>The archive holds too many files to be read.</translation>
    </message>
    <message>
        <source>压缩包中的文件过大，无法读取。</source>
        <translation>A file in the archive is too large to be read.</translation>
    </message>
    <message>
        <source>读取压缩包超时，文件可能已损坏。</source>
        <translation>Reading the archive timed out; the file may be damaged.</translation>
    </message>
    <message>
        <source>文件读取失败。</source>
        <translation>The file could not be read.</translation>
    </message>
    <message>
        <source>压缩包中的文件名指向包外，已拒绝。</source>
        <translation>A file name in the archive points outside it; refused.</translation>
    </message>
    <message>
        <source>PDF文件中的页面过大，无法读取。</source>
        <translation>A page of the PDF file is too large to be read.</translation>
    </message>
    <message>
        <source>PDF文件的页数过多，无法读取。</source>
        <translation>The PDF file has too many pages to be read.</translation>
    </message>
    <message>
        <source>读取PDF文件超时，文件可能已损坏。</source>
        <translation>Reading the PDF file timed out; the file may be damaged.</translation>
    </message>
    <message>
        <source>页面超出内存限制。</source>
        <translation>The page is over the memory limit.</translation>
    </message>
</context>
</TS>
