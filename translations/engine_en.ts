<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>batch</name>
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
</context>
<context>
    <name>core</name>
    <message>
        <source>不变</source>
        <translation>unchanged</translation>
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
        <source>抱歉，保存的文件名只能以jpg、png、bmp或tif为扩展名，请更正。</source>
        <translation>Sorry, a saved file name must end in jpg, png, bmp or tif. Please correct it.</translation>
    </message>
</context>
<context>
    <name>sources</name>
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
</context>
</TS>
