<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en_US">
<context>
    <name>CInkbriteApp</name>
    <message>
        <source>
……（共%1个文件）</source>
        <translation>
… (%1 files in all)</translation>
    </message>
    <message>
        <source>%1：%2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>最多同时打开 %1 个窗口：另有 %2 个文件没有打开。</source>
        <translation>At most %1 windows are open at once: %2 more files were not opened.</translation>
    </message>
</context>
<context>
    <name>CInkbriteDoc</name>
    <message>
        <source>%1：%2
%3</source>
        <translation>%1: %2
%3</translation>
    </message>
    <message>
        <source>原因：%1</source>
        <translation>Reason: %1</translation>
    </message>
</context>
<context>
    <name>CParaBar</name>
    <message>
        <source>此页另有设置：%1</source>
        <translation>This page has its own settings: %1</translation>
    </message>
</context>
<context>
    <name>Commands</name>
    <message>
        <source>单页	Ctrl+1</source>
        <translation>Single Page	Ctrl+1</translation>
    </message>
    <message>
        <source>一次显示一页
单页</source>
        <translation>Show one page at a time
Single page</translation>
    </message>
    <message>
        <source>双页	Ctrl+2</source>
        <translation>Two Pages	Ctrl+2</translation>
    </message>
    <message>
        <source>像翻开的书一样并排显示两页
双页</source>
        <translation>Show two pages side by side, as an open book
Two pages</translation>
    </message>
    <message>
        <source>连续滚动	Ctrl+5</source>
        <translation>Continuous	Ctrl+5</translation>
    </message>
    <message>
        <source>各页上下相接，按窗口宽度连续滚动阅读（条漫）
连续滚动</source>
        <translation>Show the pages one under another at the window&apos;s width and scroll through them as one strip (webtoons)
Continuous</translation>
    </message>
    <message>
        <source>封面单独显示	Ctrl+3</source>
        <translation>Cover Alone	Ctrl+3</translation>
    </message>
    <message>
        <source>双页时第一页单独显示
封面单独显示</source>
        <translation>Show the first page alone in two-page view
Cover alone</translation>
    </message>
    <message>
        <source>从右到左（漫画）	Ctrl+4</source>
        <translation>Right to Left (Manga)	Ctrl+4</translation>
    </message>
    <message>
        <source>按漫画的顺序从右到左阅读
从右到左</source>
        <translation>Read right to left, as manga
Right to left</translation>
    </message>
    <message>
        <source>打开(&amp;O)...	Ctrl+O</source>
        <translation>&amp;Open...	Ctrl+O</translation>
    </message>
    <message>
        <source>打开一个或多个图像文件
打开</source>
        <translation>Open one or more picture files
Open</translation>
    </message>
    <message>
        <source>关闭(&amp;C)</source>
        <translation>&amp;Close</translation>
    </message>
    <message>
        <source>关闭当前图像窗口
关闭</source>
        <translation>Close the current picture window
Close</translation>
    </message>
    <message>
        <source>保存(&amp;S)	Ctrl+S</source>
        <translation>&amp;Save	Ctrl+S</translation>
    </message>
    <message>
        <source>把处理后的图像存入原文件
保存</source>
        <translation>Save the enhanced picture over its file
Save</translation>
    </message>
    <message>
        <source>另存为(&amp;A)...</source>
        <translation>Save &amp;As...</translation>
    </message>
    <message>
        <source>把处理后的图像存为新文件
另存为</source>
        <translation>Save the enhanced picture as a new file
Save As</translation>
    </message>
    <message>
        <source>保存前确认替换原文件</source>
        <translation>Ask Before Replacing the Original</translation>
    </message>
    <message>
        <source>保存到原文件之前先询问
保存前确认</source>
        <translation>Ask before saving over the original file
Ask before replacing</translation>
    </message>
    <message>
        <source>批量转换(&amp;A)</source>
        <translation>&amp;Batch Convert...</translation>
    </message>
    <message>
        <source>批量转换目录中的图像文件
批量转换</source>
        <translation>Convert the picture files of a folder in one go
Batch convert</translation>
    </message>
    <message>
        <source>最近文件</source>
        <translation>Recent File</translation>
    </message>
    <message>
        <source>打开这个文件</source>
        <translation>Open this file</translation>
    </message>
    <message>
        <source>退出(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>退出程序
退出</source>
        <translation>Quit the program
Exit</translation>
    </message>
    <message>
        <source>工具栏(&amp;T)</source>
        <translation>&amp;Toolbar</translation>
    </message>
    <message>
        <source>显示或隐藏工具栏
工具栏</source>
        <translation>Show or hide the toolbar
Toolbar</translation>
    </message>
    <message>
        <source>状态栏(&amp;S)</source>
        <translation>&amp;Status Bar</translation>
    </message>
    <message>
        <source>显示或隐藏状态栏
状态栏</source>
        <translation>Show or hide the status bar
Status bar</translation>
    </message>
    <message>
        <source>参数栏(&amp;P)	Ctrl+A/P</source>
        <translation>&amp;Parameter Bar	Ctrl+A/P</translation>
    </message>
    <message>
        <source>显示或隐藏参数栏
参数栏</source>
        <translation>Show or hide the parameter bar
Parameter bar</translation>
    </message>
    <message>
        <source>文件显示顺序(&amp;O)...</source>
        <translation>File &amp;Order...</translation>
    </message>
    <message>
        <source>设置目录中文件的显示顺序
文件显示顺序</source>
        <translation>Set the order in which a folder&apos;s files are shown
File order</translation>
    </message>
    <message>
        <source>全屏浏览	Ctrl+F</source>
        <translation>Full Screen	Ctrl+F</translation>
    </message>
    <message>
        <source>全屏显示当前图像
全屏浏览</source>
        <translation>Show the current picture on the full screen
Full screen</translation>
    </message>
    <message>
        <source>自动缩小到窗口大小	Ctrl+-</source>
        <translation>Shrink to Window	Ctrl+-</translation>
    </message>
    <message>
        <source>把大于窗口的图像缩小到窗口大小
缩小到窗口大小</source>
        <translation>Shrink pictures larger than the window to fit it
Shrink to window</translation>
    </message>
    <message>
        <source>自动播放	Ctrl+L</source>
        <translation>Slide Show	Ctrl+L</translation>
    </message>
    <message>
        <source>按幻灯片方式逐一播放图像
自动播放</source>
        <translation>Show the pages one after another as a slide show
Slide show</translation>
    </message>
    <message>
        <source>自动播放设置(&amp;A)...</source>
        <translation>Slide Show &amp;Settings...</translation>
    </message>
    <message>
        <source>设置自动播放参数
自动播放设置</source>
        <translation>Set up the slide show
Slide show settings</translation>
    </message>
    <message>
        <source>当前目录首页	Ctrl+Home</source>
        <translation>First Page	Ctrl+Home</translation>
    </message>
    <message>
        <source>翻到当前目录的第一页
首页</source>
        <translation>Go to the first page of the folder
First page</translation>
    </message>
    <message>
        <source>当前目录尾页	Ctrl+End</source>
        <translation>Last Page	Ctrl+End</translation>
    </message>
    <message>
        <source>翻到当前目录的最后一页
尾页</source>
        <translation>Go to the last page of the folder
Last page</translation>
    </message>
    <message>
        <source>上一页	-</source>
        <translation>Previous Page	-</translation>
    </message>
    <message>
        <source>翻到上一页
上一页</source>
        <translation>Go to the previous page
Previous page</translation>
    </message>
    <message>
        <source>下一页	+</source>
        <translation>Next Page	+</translation>
    </message>
    <message>
        <source>翻到下一页
下一页</source>
        <translation>Go to the next page
Next page</translation>
    </message>
    <message>
        <source>刷新目录	F5</source>
        <translation>Refresh Folder	F5</translation>
    </message>
    <message>
        <source>刷新目录缓存
刷新目录</source>
        <translation>Read the folder&apos;s file list again
Refresh folder</translation>
    </message>
    <message>
        <source>当前页左上角	Home</source>
        <translation>Top Left of Page	Home</translation>
    </message>
    <message>
        <source>显示当前页的左上角
左上角</source>
        <translation>Show the top left corner of the page
Top left</translation>
    </message>
    <message>
        <source>当前页左下角	End</source>
        <translation>Bottom Left of Page	End</translation>
    </message>
    <message>
        <source>显示当前页的左下角
左下角</source>
        <translation>Show the bottom left corner of the page
Bottom left</translation>
    </message>
    <message>
        <source>当前页右上角	PgUp</source>
        <translation>Top Right of Page	PgUp</translation>
    </message>
    <message>
        <source>显示当前页的右上角
右上角</source>
        <translation>Show the top right corner of the page
Top right</translation>
    </message>
    <message>
        <source>当前页右下角	PgDn</source>
        <translation>Bottom Right of Page	PgDn</translation>
    </message>
    <message>
        <source>显示当前页的右下角
右下角</source>
        <translation>Show the bottom right corner of the page
Bottom right</translation>
    </message>
    <message>
        <source>单键向后浏览	Space</source>
        <translation>Read On With One Key	Space</translation>
    </message>
    <message>
        <source>依次显示当前页的各角，然后翻到下一页
单键浏览</source>
        <translation>Show each corner of the page in turn, then go to the next page
Read on</translation>
    </message>
    <message>
        <source>新建窗口(&amp;N)</source>
        <translation>&amp;New Window</translation>
    </message>
    <message>
        <source>为当前图像再开一个窗口
新建窗口</source>
        <translation>Open another window on the current picture
New window</translation>
    </message>
    <message>
        <source>层叠(&amp;C)</source>
        <translation>&amp;Cascade</translation>
    </message>
    <message>
        <source>层叠排列窗口
层叠</source>
        <translation>Arrange the windows overlapping
Cascade</translation>
    </message>
    <message>
        <source>平铺(&amp;T)</source>
        <translation>&amp;Tile</translation>
    </message>
    <message>
        <source>上下平铺窗口
平铺</source>
        <translation>Tile the windows one above the other
Tile</translation>
    </message>
    <message>
        <source>纵铺(&amp;V)</source>
        <translation>Tile &amp;Side by Side</translation>
    </message>
    <message>
        <source>左右平铺窗口
纵铺</source>
        <translation>Tile the windows side by side
Tile side by side</translation>
    </message>
    <message>
        <source>下一个窗口(&amp;N)	Tab</source>
        <translation>&amp;Next Window	Tab</translation>
    </message>
    <message>
        <source>激活下一个窗口
下一个窗口</source>
        <translation>Switch to the next window
Next window</translation>
    </message>
    <message>
        <source>关闭所有窗口(&amp;L)</source>
        <translation>C&amp;lose All Windows</translation>
    </message>
    <message>
        <source>关闭所有图像窗口
关闭所有窗口</source>
        <translation>Close every picture window
Close all windows</translation>
    </message>
    <message>
        <source>使用说明(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>显示使用说明
使用说明</source>
        <translation>Show the help page
Help</translation>
    </message>
    <message>
        <source>关于 Inkbrite(&amp;A)...</source>
        <translation>&amp;About Inkbrite...</translation>
    </message>
    <message>
        <source>显示程序信息和版本
关于</source>
        <translation>Show the program&apos;s information and version
About</translation>
    </message>
    <message>
        <source>缩略图(&amp;U)	Ctrl+T</source>
        <translation>Th&amp;umbnails	Ctrl+T</translation>
    </message>
    <message>
        <source>显示或隐藏当前目录各页的缩略图
缩略图</source>
        <translation>Show or hide the thumbnails of the pages of the folder or book
Thumbnails</translation>
    </message>
    <message>
        <source>快捷键列表(&amp;K)	F1</source>
        <translation>&amp;Keyboard Shortcuts	F1</translation>
    </message>
    <message>
        <source>列出窗口的所有快捷键
快捷键列表</source>
        <translation>List every key of the window
Keyboard shortcuts</translation>
    </message>
    <message>
        <source>小页面居中显示</source>
        <translation>Centre Small Pages</translation>
    </message>
    <message>
        <source>把小于窗口的页面居中显示在灰色背景上
居中显示</source>
        <translation>Centre pages smaller than the window on a grey background
Centre small pages</translation>
    </message>
    <message>
        <source>激活这个窗口</source>
        <translation>Activate this window</translation>
    </message>
    <message>
        <source>放大	Ctrl+Up</source>
        <translation>Zoom In	Ctrl+Up</translation>
    </message>
    <message>
        <source>放大显示，不改变保存的图像
放大</source>
        <translation>Show the page larger; what is saved stays the same
Zoom in</translation>
    </message>
    <message>
        <source>缩小	Ctrl+Down</source>
        <translation>Zoom Out	Ctrl+Down</translation>
    </message>
    <message>
        <source>缩小显示，不改变保存的图像
缩小</source>
        <translation>Show the page smaller; what is saved stays the same
Zoom out</translation>
    </message>
    <message>
        <source>实际大小 100%	Ctrl+0</source>
        <translation>Actual Size 100%	Ctrl+0</translation>
    </message>
    <message>
        <source>一个屏幕像素显示一个图像像素
实际大小</source>
        <translation>Show one page pixel on each screen pixel
Actual size</translation>
    </message>
    <message>
        <source>适合宽度	Ctrl+7</source>
        <translation>Fit Width	Ctrl+7</translation>
    </message>
    <message>
        <source>把页面缩放到窗口的宽度
适合宽度</source>
        <translation>Zoom the page to the width of the window
Fit width</translation>
    </message>
    <message>
        <source>适合高度	Ctrl+8</source>
        <translation>Fit Height	Ctrl+8</translation>
    </message>
    <message>
        <source>把页面缩放到窗口的高度
适合高度</source>
        <translation>Zoom the page to the height of the window
Fit height</translation>
    </message>
    <message>
        <source>适合页面	Ctrl+9</source>
        <translation>Fit Page	Ctrl+9</translation>
    </message>
    <message>
        <source>把整个页面缩放到窗口中
适合页面</source>
        <translation>Zoom the whole page into the window
Fit page</translation>
    </message>
    <message>
        <source>向右旋转 90°	Ctrl+R</source>
        <translation>Rotate Right 90°	Ctrl+R</translation>
    </message>
    <message>
        <source>把显示的页面顺时针旋转 90°，不改变保存的图像
向右旋转</source>
        <translation>Turn the page shown 90° clockwise; what is saved stays the same
Rotate right</translation>
    </message>
    <message>
        <source>向左旋转 90°	Ctrl+Shift+R</source>
        <translation>Rotate Left 90°	Ctrl+Shift+R</translation>
    </message>
    <message>
        <source>把显示的页面逆时针旋转 90°，不改变保存的图像
向左旋转</source>
        <translation>Turn the page shown 90° anticlockwise; what is saved stays the same
Rotate left</translation>
    </message>
    <message>
        <source>显示原图	Ctrl+B</source>
        <translation>Show Original	Ctrl+B</translation>
    </message>
    <message>
        <source>显示处理前的原图（按住 B 键时也显示）
显示原图</source>
        <translation>Show the page before the enhancement (also while B is held down)
Show original</translation>
    </message>
    <message>
        <source>左右对比原图	Ctrl+D</source>
        <translation>Split Before/After	Ctrl+D</translation>
    </message>
    <message>
        <source>左边显示原图，右边显示处理后的图像，拖动分界线比较
左右对比</source>
        <translation>The original on the left, the enhanced page on the right; drag the divider to compare
Split before/after</translation>
    </message>
    <message>
        <source>直方图	Ctrl+H</source>
        <translation>Histogram	Ctrl+H</translation>
    </message>
    <message>
        <source>显示当前页面的直方图和溢出到纯黑、纯白的像素比例
直方图</source>
        <translation>Show the histogram of the page and the share of pixels clipped to black and to white
Histogram</translation>
    </message>
    <message>
        <source>溢出警告	Ctrl+J</source>
        <translation>Clipping Warnings	Ctrl+J</translation>
    </message>
    <message>
        <source>用条纹标出溢出到纯黑（蓝色）和纯白（红色）的像素
溢出警告</source>
        <translation>Stripe the pixels clipped to black (blue) and to white (red)
Clipping warnings</translation>
    </message>
    <message>
        <source>只运行一个 Inkbrite</source>
        <translation>Single Instance</translation>
    </message>
    <message>
        <source>再次启动 Inkbrite 时，把要打开的文件交给已经运行的这一个
只运行一个</source>
        <translation>When Inkbrite is started again, what it opens goes to this one
Single instance</translation>
    </message>
    <message>
        <source>阅读全屏	F11</source>
        <translation>Reader&apos;s Full Screen	F11</translation>
    </message>
    <message>
        <source>只在黑色背景上显示页面，隐藏所有栏和静止的鼠标指针（Esc 或 F11 退出）
阅读全屏</source>
        <translation>Only the page on black, every bar and the still pointer hidden (Esc or F11 leaves)
Reader&apos;s full screen</translation>
    </message>
    <message>
        <source>双击进入阅读全屏</source>
        <translation>Double-Click for Reader&apos;s Full Screen</translation>
    </message>
    <message>
        <source>双击页面进入或退出阅读全屏，不再翻到下一页
双击进入阅读全屏</source>
        <translation>A double click on the page goes into the reader&apos;s full screen and out, instead of turning to the next page
Double-click for reader&apos;s full screen</translation>
    </message>
    <message>
        <source>每个文件夹或书一项</source>
        <translation>One Entry per Folder or Book</translation>
    </message>
    <message>
        <source>最近文件列表中每个文件夹或书只占一项，翻页时替换这一项
每个文件夹或书一项</source>
        <translation>The recent files keep one entry per folder or book, which a page turn replaces
One entry per folder or book</translation>
    </message>
</context>
<context>
    <name>Messages</name>
    <message>
        <source>无法建立目录

%1</source>
        <translation>Could not make the folder

%1</translation>
    </message>
    <message>
        <source>目标目录

%1

原先不存在，已经建立。</source>
        <translation>The target folder

%1

did not exist; it has been made.</translation>
    </message>
    <message>
        <source>抱歉，无法打开
%1
找不到可以显示它的程序。</source>
        <translation>Sorry, cannot open
%1
No program was found that can show it.</translation>
    </message>
    <message>
        <source>这个文件夹里没有可以打开的图像。</source>
        <translation>This folder holds no picture that can be opened.</translation>
    </message>
    <message>
        <source>抱歉，找不到帮助文件Inkbrite.htm。
请下载完整的ZIP文件。</source>
        <translation>Sorry, the help file Inkbrite.htm cannot be found.
Please install the complete program again.</translation>
    </message>
    <message>
        <source>抱歉，无法打开帮助文件
%1
找不到可以显示它的浏览器。</source>
        <translation>Sorry, the help file
%1
cannot be opened: no browser was found to show it.</translation>
    </message>
    <message>
        <source>批量Inkbrite</source>
        <translation>Batch Inkbrite</translation>
    </message>
    <message>
        <source>停止转换</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>全部转换</source>
        <translation>Convert All</translation>
    </message>
    <message>
        <source>选择转换</source>
        <translation>Convert Selected...</translation>
    </message>
    <message>
        <source>您所指定的目录

%1

无效。请重新指定。</source>
        <translation>The folder you gave,

%1

is not valid. Please choose another.</translation>
    </message>
    <message>
        <source>预览</source>
        <translation>Preview</translation>
    </message>
    <message>
        <source>文件存盘失败。</source>
        <translation>The file could not be saved.</translation>
    </message>
    <message>
        <source>图像文件只能保存为Jpeg格式，要继续吗？</source>
        <translation>The picture can only be saved as JPEG. Continue?</translation>
    </message>
    <message>
        <source>保存会用处理后的图像替换原文件，原图将无法恢复。要继续吗？</source>
        <translation>Saving replaces the original file with the enhanced picture; the original cannot be restored. Continue?</translation>
    </message>
    <message>
        <source>内存不足，无法处理这一页。</source>
        <translation>Not enough memory to process this page.</translation>
    </message>
    <message>
        <source>选择文件</source>
        <translation>Choose Files</translation>
    </message>
    <message>
        <source>以后不再询问</source>
        <translation>Do not ask again</translation>
    </message>
    <message>
        <source>文件读取失败。</source>
        <translation>The file could not be read.</translation>
    </message>
</context>
<context>
    <name>ParamLists</name>
    <message>
        <source>目录中的页面逐个转换</source>
        <translation>A folder&apos;s pages one by one</translation>
    </message>
    <message>
        <source>每个目录转为一本书</source>
        <translation>Each folder as one book</translation>
    </message>
    <message>
        <source>每本转为一个CBZ文件</source>
        <translation>Each into a CBZ file</translation>
    </message>
    <message>
        <source>每本转为一个文件夹</source>
        <translation>Each into a folder</translation>
    </message>
    <message>
        <source>跳过漫画书</source>
        <translation>Skip comic books</translation>
    </message>
    <message>
        <source>每本转为一个EPUB电子书</source>
        <translation>Each into an EPUB e-book</translation>
    </message>
    <message>
        <source>每本转为一个KEPUB电子书（Kobo）</source>
        <translation>Each into a KEPUB e-book (Kobo)</translation>
    </message>
    <message>
        <source>每本转为一个PDF文件</source>
        <translation>Each into a PDF file</translation>
    </message>
    <message>
        <source>跨页拆成两页</source>
        <translation>Spreads split into two pages</translation>
    </message>
    <message>
        <source>跨页转90度</source>
        <translation>Spreads turned 90°</translation>
    </message>
    <message>
        <source>跨页转90度后再拆成两页</source>
        <translation>Spreads turned 90°, then split</translation>
    </message>
    <message>
        <source>页面保留原名</source>
        <translation>Page names kept</translation>
    </message>
    <message>
        <source>页面按阅读顺序编号</source>
        <translation>Pages numbered in reading order</translation>
    </message>
    <message>
        <source>无</source>
        <translation>None</translation>
    </message>
    <message>
        <source>%1级</source>
        <translation>Level %1</translation>
    </message>
    <message>
        <source>一般</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>强</source>
        <translation>Strong</translation>
    </message>
    <message>
        <source>彩色漫画</source>
        <translation>Colour comic</translation>
    </message>
    <message>
        <source>黑白漫画</source>
        <translation>Greyscale comic</translation>
    </message>
    <message>
        <source>保持原样</source>
        <translation>Keep as is</translation>
    </message>
    <message>
        <source>256色</source>
        <translation>256 colours</translation>
    </message>
    <message>
        <source>16级灰度</source>
        <translation>16 greys</translation>
    </message>
    <message>
        <source>8级灰度</source>
        <translation>8 greys</translation>
    </message>
    <message>
        <source>4级灰度</source>
        <translation>4 greys</translation>
    </message>
    <message>
        <source>单色</source>
        <translation>Black and white</translation>
    </message>
</context>
<context>
    <name>SeriesSettings</name>
    <message>
        <source>设置：%1</source>
        <translation>Setting: %1</translation>
    </message>
</context>
<context>
    <name>inkbrite::CAboutDialog</name>
    <message>
        <source>关于 Inkbrite</source>
        <translation>About Inkbrite</translation>
    </message>
    <message>
        <source>Inkbrite %1 版</source>
        <translation>Inkbrite version %1</translation>
    </message>
    <message>
        <source>作者：</source>
        <translation>Author:</translation>
    </message>
    <message>
        <source>电邮：</source>
        <translation>E-mail:</translation>
    </message>
    <message>
        <source>如果希望了解本软件的最新信息，请访问作者主页:</source>
        <translation>For the latest news about this program, visit the author&apos;s home page:</translation>
    </message>
</context>
<context>
    <name>inkbrite::CAutoPlayDialog</name>
    <message>
        <source>自动播放设置</source>
        <translation>Slide Show Settings</translation>
    </message>
    <message>
        <source>自动播放时间间隔:</source>
        <translation>Time between pages:</translation>
    </message>
    <message>
        <source>秒</source>
        <translation>seconds</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>inkbrite::CBatchDlg</name>
    <message>
        <source>需增强的漫画</source>
        <translation>Comics to enhance</translation>
    </message>
    <message>
        <source>选择</source>
        <translation>Choose...</translation>
    </message>
    <message>
        <source>查看文件</source>
        <translation>View Files</translation>
    </message>
    <message>
        <source>包括子目录</source>
        <translation>Include subfolders</translation>
    </message>
    <message>
        <source>存放源文件的目录:</source>
        <translation>Source folder:</translation>
    </message>
    <message>
        <source>源文件:</source>
        <translation>Source files:</translation>
    </message>
    <message>
        <source>增强后的漫画</source>
        <translation>Enhanced comics</translation>
    </message>
    <message>
        <source>存放新文件的目录:</source>
        <translation>Target folder:</translation>
    </message>
    <message>
        <source>新文件扩展名:</source>
        <translation>New extension:</translation>
    </message>
    <message>
        <source>漫画书(CBZ、CBR、PDF等):</source>
        <translation>Comic books (CBZ, CBR, PDF...):</translation>
    </message>
    <message>
        <source>每个目录转为一本书</source>
        <translation>Each folder as one book</translation>
    </message>
    <message>
        <source>含有页面的每个目录转换为一本以它命名的书（CBZ、EPUB、KEPUB或PDF）</source>
        <translation>Each folder that holds pages becomes one book named after it (CBZ, EPUB, KEPUB or PDF)</translation>
    </message>
    <message>
        <source>搜索设备</source>
        <translation>Search devices</translation>
    </message>
    <message>
        <source>选择设备即调入它的设置：屏幕大小、灰度或彩色、书的种类和跨页的处理</source>
        <translation>Choosing a device loads its settings: screen size, grey or colour, book kind and spread handling</translation>
    </message>
    <message>
        <source>（不按设备）</source>
        <translation>(no device)</translation>
    </message>
    <message>
        <source>“拆分跨页”打开时，宽于高的页面变成什么（按阅读顺序）</source>
        <translation>What a page wider than tall becomes when “Split spreads” is on (in reading order)</translation>
    </message>
    <message>
        <source>页面按阅读顺序编号</source>
        <translation>Number pages in reading order</translation>
    </message>
    <message>
        <source>书中的页面改名为0001.jpg……，因为阅读器按文字排序文件名</source>
        <translation>A book&apos;s pages are renamed 0001.jpg …, since readers sort names as text</translation>
    </message>
    <message>
        <source>阅读设备:</source>
        <translation>Reading device:</translation>
    </message>
    <message>
        <source>跨页:</source>
        <translation>Spreads:</translation>
    </message>
    <message>
        <source>亮度:</source>
        <translation>Brightness:</translation>
    </message>
    <message>
        <source>对比度:</source>
        <translation>Contrast:</translation>
    </message>
    <message>
        <source>高亮度:</source>
        <translation>Highlight:</translation>
    </message>
    <message>
        <source>Gamma校正:</source>
        <translation>Gamma:</translation>
    </message>
    <message>
        <source>尺寸缩放:</source>
        <translation>Resize:</translation>
    </message>
    <message>
        <source>JPG压缩比:</source>
        <translation>JPEG quality:</translation>
    </message>
    <message>
        <source>高亮值:</source>
        <translation>Threshold:</translation>
    </message>
    <message>
        <source>曲线:</source>
        <translation>Curve:</translation>
    </message>
    <message>
        <source>上:</source>
        <translation>Top:</translation>
    </message>
    <message>
        <source>下:</source>
        <translation>Bottom:</translation>
    </message>
    <message>
        <source>左:</source>
        <translation>Left:</translation>
    </message>
    <message>
        <source>右:</source>
        <translation>Right:</translation>
    </message>
    <message>
        <source>锐化:</source>
        <translation>Sharpen:</translation>
    </message>
    <message>
        <source>柔化:</source>
        <translation>Soften:</translation>
    </message>
    <message>
        <source>色彩:</source>
        <translation>Colours:</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>调入</source>
        <translation>Load</translation>
    </message>
    <message>
        <source>恢复</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Set...</translation>
    </message>
    <message>
        <source>关闭</source>
        <translation>Close</translation>
    </message>
    <message>
        <source>帮助</source>
        <translation>Help</translation>
    </message>
    <message>
        <source>选项：</source>
        <translation>Options: </translation>
    </message>
    <message>
        <source>打开目录</source>
        <translation>Open Folder</translation>
    </message>
    <message>
        <source>请选择希望打开的目录</source>
        <translation>Choose the folder to open</translation>
    </message>
    <message>
        <source>请先选择目标目录。</source>
        <translation>Please choose the target folder first.</translation>
    </message>
    <message>
        <source>请先选择源目录。</source>
        <translation>Please choose the source folder first.</translation>
    </message>
    <message>
        <source>抱歉，在目标目录中找不到可查看的文件。</source>
        <translation>Sorry, the target folder holds no file that can be viewed.</translation>
    </message>
    <message>
        <source>抱歉，在源目录中找不到可查看的文件。</source>
        <translation>Sorry, the source folder holds no file that can be viewed.</translation>
    </message>
    <message>
        <source>选择欲转换的文件</source>
        <translation>Choose the Files to Convert</translation>
    </message>
    <message>
        <source>不处理彩色图像文件</source>
        <translation>Do not convert colour pictures</translation>
    </message>
    <message>
        <source>不切</source>
        <translation>Not cut</translation>
    </message>
    <message>
        <source> 像素</source>
        <translation> px</translation>
    </message>
    <message>
        <source>比这更高（适配和缩放后）的页面切成多页，尽量切在画格间的空白处</source>
        <translation>A page taller than this (after fitting and resizing) is cut into pages, in the gutters between panels where it can</translation>
    </message>
    <message>
        <source>先接成一长条</source>
        <translation>Join into one strip first</translation>
    </message>
    <message>
        <source>每个目录或书的页面先接成一长条再切开，跨两张图的画格保持完整</source>
        <translation>Each folder&apos;s or book&apos;s pages are joined into one strip before it is cut, so a panel across two pictures stays whole</translation>
    </message>
    <message>
        <source>长条漫画切成页面:</source>
        <translation>Cut long strips into pages:</translation>
    </message>
    <message>
        <source>每本书用附加在它或它的系列上的设置</source>
        <translation>Each book with the settings attached to it or its series</translation>
    </message>
    <message>
        <source>书和它的系列（所在目录）附加了设置时用那个设置转换，页面另有的设置（只用于此页）也用上；没有附加的书用这里的设置</source>
        <translation>A book whose series (its folder) or itself has settings attached is converted with them, and pages with their own settings (this page only) with theirs; other books take the settings here</translation>
    </message>
</context>
<context>
    <name>inkbrite::CCurveDialog</name>
    <message>
        <source>曲线调节</source>
        <translation>Curve Adjustment</translation>
    </message>
    <message>
        <source>预设模式</source>
        <translation>Presets</translation>
    </message>
    <message>
        <source>原画面保持不变</source>
        <translation>Leave the picture as it is</translation>
    </message>
    <message>
        <source>原画面背景杂乱</source>
        <translation>Cluttered background</translation>
    </message>
    <message>
        <source>原画面整体发白</source>
        <translation>Too light overall</translation>
    </message>
    <message>
        <source>原画面整体发暗</source>
        <translation>Too dark overall</translation>
    </message>
</context>
<context>
    <name>inkbrite::CFolderChooser</name>
    <message>
        <source>新建文件夹</source>
        <translation>New Folder</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
</context>
<context>
    <name>inkbrite::CHistogramDock</name>
    <message>
        <source>直方图</source>
        <translation>Histogram</translation>
    </message>
    <message>
        <source>没有页面</source>
        <translation>No page</translation>
    </message>
    <message>
        <source>黑色溢出 %1%&#x3000;白色溢出 %2%</source>
        <translation>Clipped to black %1%   to white %2%</translation>
    </message>
</context>
<context>
    <name>inkbrite::CInkbriteView</name>
    <message>
        <source>原图</source>
        <translation>Before</translation>
    </message>
    <message>
        <source>处理后</source>
        <translation>After</translation>
    </message>
    <message>
        <source>缩小到窗口 %1%</source>
        <translation>Shrink to window %1 %</translation>
    </message>
    <message>
        <source>实际大小 %1%</source>
        <translation>Actual size %1 %</translation>
    </message>
    <message>
        <source>连续滚动 %1%</source>
        <translation>Continuous %1 %</translation>
    </message>
    <message>
        <source>缩放 %1%</source>
        <translation>Zoom %1 %</translation>
    </message>
    <message>
        <source>适合宽度 %1%</source>
        <translation>Fit width %1 %</translation>
    </message>
    <message>
        <source>适合高度 %1%</source>
        <translation>Fit height %1 %</translation>
    </message>
    <message>
        <source>适合页面 %1%</source>
        <translation>Fit page %1 %</translation>
    </message>
    <message>
        <source>下一本书：%1</source>
        <translation>Next book: %1</translation>
    </message>
    <message>
        <source>上一本书：%1</source>
        <translation>Previous book: %1</translation>
    </message>
</context>
<context>
    <name>inkbrite::CMainFrame</name>
    <message>
        <source>智能放大中…</source>
        <translation>Upscaling…</translation>
    </message>
    <message>
        <source>大写</source>
        <translation>CAP</translation>
    </message>
    <message>
        <source>数字</source>
        <translation>NUM</translation>
    </message>
    <message>
        <source>文件(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>查看(&amp;V)</source>
        <translation>&amp;View</translation>
    </message>
    <message>
        <source>帮助(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>页面浏览</source>
        <translation>Pages</translation>
    </message>
    <message>
        <source>窗口(&amp;W)</source>
        <translation>&amp;Window</translation>
    </message>
    <message>
        <source>语言</source>
        <translation>Language</translation>
    </message>
    <message>
        <source>跟随系统</source>
        <translation>Follow the system</translation>
    </message>
    <message>
        <source>找不到英文翻译，界面仍为中文。</source>
        <translation>The English translation was not found; the interface stays in Chinese.</translation>
    </message>
    <message>
        <source>工具栏</source>
        <translation>Toolbar</translation>
    </message>
    <message>
        <source>无法建立本机连接，只运行一个 Inkbrite 的设置没有生效。</source>
        <translation>The local connection could not be made; Single Instance is not in effect.</translation>
    </message>
</context>
<context>
    <name>inkbrite::COrderDialog</name>
    <message>
        <source>设置文件显示顺序</source>
        <translation>File Order</translation>
    </message>
    <message>
        <source>排序</source>
        <translation>Sort</translation>
    </message>
    <message>
        <source>按文件名字母顺序</source>
        <translation>By file name</translation>
    </message>
    <message>
        <source>按文件创建时间顺序</source>
        <translation>By file creation time</translation>
    </message>
    <message>
        <source>按文件长度顺序</source>
        <translation>By file size</translation>
    </message>
    <message>
        <source>顺序</source>
        <translation>Order</translation>
    </message>
    <message>
        <source>按从小到大的顺序</source>
        <translation>Ascending</translation>
    </message>
    <message>
        <source>按从大到小的顺序</source>
        <translation>Descending</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>复原</source>
        <translation>Defaults</translation>
    </message>
</context>
<context>
    <name>inkbrite::CParaBar</name>
    <message>
        <source>本书设置</source>
        <translation>Book&apos;s setting</translation>
    </message>
    <message>
        <source>用于此系列</source>
        <translation>Use for this series</translation>
    </message>
    <message>
        <source>用于此书</source>
        <translation>Use for this book</translation>
    </message>
    <message>
        <source>不再用于此系列</source>
        <translation>No longer for this series</translation>
    </message>
    <message>
        <source>不再用于此书</source>
        <translation>No longer for this book</translation>
    </message>
    <message>
        <source>此书和它的系列没有附加的设置</source>
        <translation>Nothing is attached to this book or its series</translation>
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
        <translation>Highlight</translation>
    </message>
    <message>
        <source>Gamma校正</source>
        <translation>Gamma</translation>
    </message>
    <message>
        <source>曲线调节</source>
        <translation>Curve</translation>
    </message>
    <message>
        <source>缩放</source>
        <translation>Resize</translation>
    </message>
    <message>
        <source>Jpg质量</source>
        <translation>JPEG Quality</translation>
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
        <source>上:</source>
        <translation>Top:</translation>
    </message>
    <message>
        <source>下:</source>
        <translation>Bottom:</translation>
    </message>
    <message>
        <source>左:</source>
        <translation>Left:</translation>
    </message>
    <message>
        <source>右:</source>
        <translation>Right:</translation>
    </message>
    <message>
        <source>以上参数仅适用于当前窗口</source>
        <translation>These settings apply to this window only</translation>
    </message>
    <message>
        <source>保存</source>
        <translation>Save</translation>
    </message>
    <message>
        <source>调入</source>
        <translation>Load</translation>
    </message>
    <message>
        <source>恢复</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>高亮值:</source>
        <translation>Threshold:</translation>
    </message>
    <message>
        <source>设置</source>
        <translation>Set...</translation>
    </message>
    <message>
        <source>锐化:</source>
        <translation>Sharpen:</translation>
    </message>
    <message>
        <source>柔化:</source>
        <translation>Soften:</translation>
    </message>
    <message>
        <source>色彩:</source>
        <translation>Colours:</translation>
    </message>
    <message>
        <source>参数：</source>
        <translation>Parameters: </translation>
    </message>
    <message>
        <source>只用于此页</source>
        <translation>This page only</translation>
    </message>
    <message>
        <source>不再只用于此页</source>
        <translation>No longer for this page only</translation>
    </message>
    <message>
        <source>此页用本书的设置</source>
        <translation>This page has the book&apos;s settings</translation>
    </message>
    <message>
        <source>只有书中的页才能有自己的设置</source>
        <translation>Only a page of a book can have settings of its own</translation>
    </message>
    <message>
        <source>此页的设置与本书的相同，不另存</source>
        <translation>This page&apos;s settings are the book&apos;s: nothing kept for it</translation>
    </message>
</context>
<context>
    <name>inkbrite::CSettingsDialog</name>
    <message>
        <source>目录:</source>
        <translation>Folders:</translation>
    </message>
    <message>
        <source>漫画书:</source>
        <translation>Books:</translation>
    </message>
    <message>
        <source>跨页:</source>
        <translation>Spreads:</translation>
    </message>
    <message>
        <source>页面:</source>
        <translation>Pages:</translation>
    </message>
    <message>
        <source>请输入新设置的名称：</source>
        <translation>Name of the new setting:</translation>
    </message>
    <message>
        <source>请选择欲读取的设置：</source>
        <translation>Choose the setting to load:</translation>
    </message>
    <message>
        <source>设置管理</source>
        <translation>Named Settings</translation>
    </message>
    <message>
        <source>亮度:</source>
        <translation>Brightness:</translation>
    </message>
    <message>
        <source>对比度:</source>
        <translation>Contrast:</translation>
    </message>
    <message>
        <source>高亮度:</source>
        <translation>Highlight:</translation>
    </message>
    <message>
        <source>高亮值:</source>
        <translation>Threshold:</translation>
    </message>
    <message>
        <source>Gamma校正:</source>
        <translation>Gamma:</translation>
    </message>
    <message>
        <source>JPG压缩比:</source>
        <translation>JPEG quality:</translation>
    </message>
    <message>
        <source>尺寸缩放:</source>
        <translation>Resize:</translation>
    </message>
    <message>
        <source>曲线:</source>
        <translation>Curve:</translation>
    </message>
    <message>
        <source>上:</source>
        <translation>Top:</translation>
    </message>
    <message>
        <source>下:</source>
        <translation>Bottom:</translation>
    </message>
    <message>
        <source>左:</source>
        <translation>Left:</translation>
    </message>
    <message>
        <source>右:</source>
        <translation>Right:</translation>
    </message>
    <message>
        <source>锐化:</source>
        <translation>Sharpen:</translation>
    </message>
    <message>
        <source>柔化:</source>
        <translation>Soften:</translation>
    </message>
    <message>
        <source>色彩:</source>
        <translation>Colours:</translation>
    </message>
    <message>
        <source>源文件:</source>
        <translation>Source files:</translation>
    </message>
    <message>
        <source>新文件扩展名:</source>
        <translation>New extension:</translation>
    </message>
    <message>
        <source>确定</source>
        <translation>OK</translation>
    </message>
    <message>
        <source>取消</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>删除</source>
        <translation>Delete</translation>
    </message>
    <message>
        <source>请输入有效的设置名称。</source>
        <translation>Please enter a valid name for the setting.</translation>
    </message>
    <message>
        <source>在磁盘中有同名的设置存在，您想覆盖吗？</source>
        <translation>A setting of this name is already stored. Replace it?</translation>
    </message>
    <message>
        <source>无法保存设置“%1”：设置文件
%2
无法写入。</source>
        <translation>The setting &quot;%1&quot; cannot be saved: the settings file
%2
cannot be written.</translation>
    </message>
    <message>
        <source>抱歉，请先从列表中选择您希望读取的设置。</source>
        <translation>Sorry, please first choose the setting to load from the list.</translation>
    </message>
    <message>
        <source>抱歉，请先从列表中选择您希望删除的设置。</source>
        <translation>Sorry, please first choose the setting to delete from the list.</translation>
    </message>
    <message>
        <source>您真的想从磁盘记录中删除当前设置吗？</source>
        <translation>Do you really want to delete this setting from the stored settings?</translation>
    </message>
    <message>
        <source>无法删除设置“%1”：设置文件
%2
无法写入。</source>
        <translation>The setting &quot;%1&quot; cannot be deleted: the settings file
%2
cannot be written.</translation>
    </message>
</context>
<context>
    <name>inkbrite::CShelfView</name>
    <message>
        <source>新</source>
        <translation>New</translation>
    </message>
    <message>
        <source>已读</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>文件夹</source>
        <translation>Folder</translation>
    </message>
    <message>
        <source>第 %1 卷</source>
        <translation>No. %1</translation>
    </message>
    <message>
        <source>%1/%2 页</source>
        <translation>page %1/%2</translation>
    </message>
    <message>
        <source>继续阅读</source>
        <translation>Continue Reading</translation>
    </message>
    <message>
        <source>已开始但未读完的书，最近读的在前</source>
        <translation>Books begun and not finished, the last read first</translation>
    </message>
    <message>
        <source>自然顺序</source>
        <translation>Natural order</translation>
    </message>
    <message>
        <source>按标题</source>
        <translation>By title</translation>
    </message>
    <message>
        <source>按添加日期</source>
        <translation>By date added</translation>
    </message>
    <message>
        <source>按上次阅读</source>
        <translation>By last read</translation>
    </message>
    <message>
        <source>搜索名称、系列、作者（/）</source>
        <translation>Search name, series, writer (/)</translation>
    </message>
    <message>
        <source>用于此系列</source>
        <translation>Use for this series</translation>
    </message>
    <message>
        <source>用于此书</source>
        <translation>Use for this book</translation>
    </message>
    <message>
        <source>不再用于此系列</source>
        <translation>No longer for this series</translation>
    </message>
    <message>
        <source>不再用于此书</source>
        <translation>No longer for this book</translation>
    </message>
</context>
<context>
    <name>inkbrite::CStripView</name>
    <message>
        <source>第 %1/%2 页 · %3%</source>
        <translation>Page %1/%2 · %3%</translation>
    </message>
</context>
<context>
    <name>inkbrite::CShortcutListDialog</name>
    <message>
        <source>快捷键列表</source>
        <translation>Keyboard Shortcuts</translation>
    </message>
    <message>
        <source>命令</source>
        <translation>Command</translation>
    </message>
    <message>
        <source>按键</source>
        <translation>Keys</translation>
    </message>
</context>
<context>
    <name>inkbrite::CThumbnailStrip</name>
    <message>
        <source>缩略图</source>
        <translation>Thumbnails</translation>
    </message>
</context>
</TS>
