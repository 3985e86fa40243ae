// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/services/commands.h"

#include <QCoreApplication>

namespace inkbrite {

namespace {

struct CommandText {
  int id;
  const char* menu;
  const char* prompt;
};

// Menu texts as the menus show them; prompts as the status bar and the
// tooltips show them.
constexpr CommandText kCommandTexts[] = {
    {kCmdOpen, QT_TRANSLATE_NOOP("Commands", "打开(&O)...\tCtrl+O"),
     QT_TRANSLATE_NOOP("Commands", "打开一个或多个图像文件\n打开")},
    {kCmdClose, QT_TRANSLATE_NOOP("Commands", "关闭(&C)"),
     QT_TRANSLATE_NOOP("Commands", "关闭当前图像窗口\n关闭")},
    {kCmdSave, QT_TRANSLATE_NOOP("Commands", "保存(&S)\tCtrl+S"),
     QT_TRANSLATE_NOOP("Commands", "把处理后的图像存入原文件\n保存")},
    {kCmdSaveAs, QT_TRANSLATE_NOOP("Commands", "另存为(&A)..."),
     QT_TRANSLATE_NOOP("Commands", "把处理后的图像存为新文件\n另存为")},
    {kCmdDoubleClickFullScreen, QT_TRANSLATE_NOOP("Commands", "双击进入阅读全屏"),
     QT_TRANSLATE_NOOP("Commands", "双击页面进入或退出阅读全屏，不再翻到下一页\n双击进入阅读全屏")},
    {kCmdRecentPerFolder, QT_TRANSLATE_NOOP("Commands", "每个文件夹或书一项"),
     QT_TRANSLATE_NOOP(
         "Commands", "最近文件列表中每个文件夹或书只占一项，翻页时替换这一项\n每个文件夹或书一项")},
    {kCmdAskBeforeOverwrite, QT_TRANSLATE_NOOP("Commands", "保存前确认替换原文件"),
     QT_TRANSLATE_NOOP("Commands", "保存到原文件之前先询问\n保存前确认")},
    {kCmdBatch, QT_TRANSLATE_NOOP("Commands", "批量转换(&A)"),
     QT_TRANSLATE_NOOP("Commands", "批量转换目录中的图像文件\n批量转换")},
    {kCmdRecentFile, QT_TRANSLATE_NOOP("Commands", "最近文件"),
     QT_TRANSLATE_NOOP("Commands", "打开这个文件")},
    {kCmdExit, QT_TRANSLATE_NOOP("Commands", "退出(&X)"),
     QT_TRANSLATE_NOOP("Commands", "退出程序\n退出")},
    {kCmdToolbar, QT_TRANSLATE_NOOP("Commands", "工具栏(&T)"),
     QT_TRANSLATE_NOOP("Commands", "显示或隐藏工具栏\n工具栏")},
    {kCmdStatusBar, QT_TRANSLATE_NOOP("Commands", "状态栏(&S)"),
     QT_TRANSLATE_NOOP("Commands", "显示或隐藏状态栏\n状态栏")},
    {kCmdParaBar, QT_TRANSLATE_NOOP("Commands", "参数栏(&P)\tCtrl+A/P"),
     QT_TRANSLATE_NOOP("Commands", "显示或隐藏参数栏\n参数栏")},
    {kCmdDisplayOrder, QT_TRANSLATE_NOOP("Commands", "文件显示顺序(&O)..."),
     QT_TRANSLATE_NOOP("Commands", "设置目录中文件的显示顺序\n文件显示顺序")},
    {kCmdFullScreen, QT_TRANSLATE_NOOP("Commands", "全屏浏览\tCtrl+F"),
     QT_TRANSLATE_NOOP("Commands", "全屏显示当前图像\n全屏浏览")},
    {kCmdReaderFullScreen, QT_TRANSLATE_NOOP("Commands", "阅读全屏\tF11"),
     QT_TRANSLATE_NOOP(
         "Commands",
         "只在黑色背景上显示页面，隐藏所有栏和静止的鼠标指针（Esc 或 F11 退出）\n阅读全屏")},
    {kCmdFitWindow, QT_TRANSLATE_NOOP("Commands", "自动缩小到窗口大小\tCtrl+-"),
     QT_TRANSLATE_NOOP("Commands", "把大于窗口的图像缩小到窗口大小\n缩小到窗口大小")},
    {kCmdAutoPlay, QT_TRANSLATE_NOOP("Commands", "自动播放\tCtrl+L"),
     QT_TRANSLATE_NOOP("Commands", "按幻灯片方式逐一播放图像\n自动播放")},
    {kCmdCentreSmallPages, QT_TRANSLATE_NOOP("Commands", "小页面居中显示"),
     QT_TRANSLATE_NOOP("Commands", "把小于窗口的页面居中显示在灰色背景上\n居中显示")},
    {kCmdWindowList, "", QT_TRANSLATE_NOOP("Commands", "激活这个窗口")},
    {kCmdZoomIn, QT_TRANSLATE_NOOP("Commands", "放大\tCtrl+Up"),
     QT_TRANSLATE_NOOP("Commands", "放大显示，不改变保存的图像\n放大")},
    {kCmdZoomOut, QT_TRANSLATE_NOOP("Commands", "缩小\tCtrl+Down"),
     QT_TRANSLATE_NOOP("Commands", "缩小显示，不改变保存的图像\n缩小")},
    {kCmdActualSize, QT_TRANSLATE_NOOP("Commands", "实际大小 100%\tCtrl+0"),
     QT_TRANSLATE_NOOP("Commands", "一个屏幕像素显示一个图像像素\n实际大小")},
    {kCmdFitWidth, QT_TRANSLATE_NOOP("Commands", "适合宽度\tCtrl+7"),
     QT_TRANSLATE_NOOP("Commands", "把页面缩放到窗口的宽度\n适合宽度")},
    {kCmdFitHeight, QT_TRANSLATE_NOOP("Commands", "适合高度\tCtrl+8"),
     QT_TRANSLATE_NOOP("Commands", "把页面缩放到窗口的高度\n适合高度")},
    {kCmdFitPage, QT_TRANSLATE_NOOP("Commands", "适合页面\tCtrl+9"),
     QT_TRANSLATE_NOOP("Commands", "把整个页面缩放到窗口中\n适合页面")},
    {kCmdTurnRight, QT_TRANSLATE_NOOP("Commands", "向右旋转 90°\tCtrl+R"),
     QT_TRANSLATE_NOOP("Commands", "把显示的页面顺时针旋转 90°，不改变保存的图像\n向右旋转")},
    {kCmdTurnLeft, QT_TRANSLATE_NOOP("Commands", "向左旋转 90°\tCtrl+Shift+R"),
     QT_TRANSLATE_NOOP("Commands", "把显示的页面逆时针旋转 90°，不改变保存的图像\n向左旋转")},
    {kCmdShowOriginal, QT_TRANSLATE_NOOP("Commands", "显示原图\tCtrl+B"),
     QT_TRANSLATE_NOOP("Commands", "显示处理前的原图（按住 B 键时也显示）\n显示原图")},
    {kCmdSplitView, QT_TRANSLATE_NOOP("Commands", "左右对比原图\tCtrl+D"),
     QT_TRANSLATE_NOOP("Commands", "左边显示原图，右边显示处理后的图像，拖动分界线比较\n左右对比")},
    {kCmdHistogram, QT_TRANSLATE_NOOP("Commands", "直方图\tCtrl+H"),
     QT_TRANSLATE_NOOP("Commands", "显示当前页面的直方图和溢出到纯黑、纯白的像素比例\n直方图")},
    {kCmdClipWarnings, QT_TRANSLATE_NOOP("Commands", "溢出警告\tCtrl+J"),
     QT_TRANSLATE_NOOP("Commands", "用条纹标出溢出到纯黑（蓝色）和纯白（红色）的像素\n溢出警告")},
    {kCmdSingleInstance, QT_TRANSLATE_NOOP("Commands", "只运行一个 Inkbrite"),
     QT_TRANSLATE_NOOP("Commands",
                       "再次启动 Inkbrite 时，把要打开的文件交给已经运行的这一个\n只运行一个")},
    {kCmdSinglePage, QT_TRANSLATE_NOOP("Commands", "单页\tCtrl+1"),
     QT_TRANSLATE_NOOP("Commands", "一次显示一页\n单页")},
    {kCmdTwoPages, QT_TRANSLATE_NOOP("Commands", "双页\tCtrl+2"),
     QT_TRANSLATE_NOOP("Commands", "像翻开的书一样并排显示两页\n双页")},
    {kCmdContinuous, QT_TRANSLATE_NOOP("Commands", "连续滚动\tCtrl+5"),
     QT_TRANSLATE_NOOP("Commands", "各页上下相接，按窗口宽度连续滚动阅读（条漫）\n连续滚动")},
    {kCmdCoverAlone, QT_TRANSLATE_NOOP("Commands", "封面单独显示\tCtrl+3"),
     QT_TRANSLATE_NOOP("Commands", "双页时第一页单独显示\n封面单独显示")},
    {kCmdRightToLeft, QT_TRANSLATE_NOOP("Commands", "从右到左（漫画）\tCtrl+4"),
     QT_TRANSLATE_NOOP("Commands", "按漫画的顺序从右到左阅读\n从右到左")},
    {kCmdThumbnails, QT_TRANSLATE_NOOP("Commands", "缩略图(&U)\tCtrl+T"),
     QT_TRANSLATE_NOOP("Commands", "显示或隐藏当前目录各页的缩略图\n缩略图")},
    {kCmdShortcutList, QT_TRANSLATE_NOOP("Commands", "快捷键列表(&K)\tF1"),
     QT_TRANSLATE_NOOP("Commands", "列出窗口的所有快捷键\n快捷键列表")},
    {kCmdAutoPlaySettings, QT_TRANSLATE_NOOP("Commands", "自动播放设置(&A)..."),
     QT_TRANSLATE_NOOP("Commands", "设置自动播放参数\n自动播放设置")},
    {kCmdFirstPage, QT_TRANSLATE_NOOP("Commands", "当前目录首页\tCtrl+Home"),
     QT_TRANSLATE_NOOP("Commands", "翻到当前目录的第一页\n首页")},
    {kCmdLastPage, QT_TRANSLATE_NOOP("Commands", "当前目录尾页\tCtrl+End"),
     QT_TRANSLATE_NOOP("Commands", "翻到当前目录的最后一页\n尾页")},
    {kCmdPreviousPage, QT_TRANSLATE_NOOP("Commands", "上一页\t-"),
     QT_TRANSLATE_NOOP("Commands", "翻到上一页\n上一页")},
    {kCmdNextPage, QT_TRANSLATE_NOOP("Commands", "下一页\t+"),
     QT_TRANSLATE_NOOP("Commands", "翻到下一页\n下一页")},
    {kCmdRefresh, QT_TRANSLATE_NOOP("Commands", "刷新目录\tF5"),
     QT_TRANSLATE_NOOP("Commands", "刷新目录缓存\n刷新目录")},
    {kCmdTopLeft, QT_TRANSLATE_NOOP("Commands", "当前页左上角\tHome"),
     QT_TRANSLATE_NOOP("Commands", "显示当前页的左上角\n左上角")},
    {kCmdBottomLeft, QT_TRANSLATE_NOOP("Commands", "当前页左下角\tEnd"),
     QT_TRANSLATE_NOOP("Commands", "显示当前页的左下角\n左下角")},
    {kCmdTopRight, QT_TRANSLATE_NOOP("Commands", "当前页右上角\tPgUp"),
     QT_TRANSLATE_NOOP("Commands", "显示当前页的右上角\n右上角")},
    {kCmdBottomRight, QT_TRANSLATE_NOOP("Commands", "当前页右下角\tPgDn"),
     QT_TRANSLATE_NOOP("Commands", "显示当前页的右下角\n右下角")},
    {kCmdSingleKey, QT_TRANSLATE_NOOP("Commands", "单键向后浏览\tSpace"),
     QT_TRANSLATE_NOOP("Commands", "依次显示当前页的各角，然后翻到下一页\n单键浏览")},
    {kCmdNewWindow, QT_TRANSLATE_NOOP("Commands", "新建窗口(&N)"),
     QT_TRANSLATE_NOOP("Commands", "为当前图像再开一个窗口\n新建窗口")},
    {kCmdCascade, QT_TRANSLATE_NOOP("Commands", "层叠(&C)"),
     QT_TRANSLATE_NOOP("Commands", "层叠排列窗口\n层叠")},
    {kCmdTileHorizontal, QT_TRANSLATE_NOOP("Commands", "平铺(&T)"),
     QT_TRANSLATE_NOOP("Commands", "上下平铺窗口\n平铺")},
    {kCmdTileVertical, QT_TRANSLATE_NOOP("Commands", "纵铺(&V)"),
     QT_TRANSLATE_NOOP("Commands", "左右平铺窗口\n纵铺")},
    {kCmdNextWindow, QT_TRANSLATE_NOOP("Commands", "下一个窗口(&N)\tTab"),
     QT_TRANSLATE_NOOP("Commands", "激活下一个窗口\n下一个窗口")},
    {kCmdCloseAll, QT_TRANSLATE_NOOP("Commands", "关闭所有窗口(&L)"),
     QT_TRANSLATE_NOOP("Commands", "关闭所有图像窗口\n关闭所有窗口")},
    {kCmdHelp, QT_TRANSLATE_NOOP("Commands", "使用说明(&H)"),
     QT_TRANSLATE_NOOP("Commands", "显示使用说明\n使用说明")},
    {kCmdAbout, QT_TRANSLATE_NOOP("Commands", "关于 Inkbrite(&A)..."),
     QT_TRANSLATE_NOOP("Commands", "显示程序信息和版本\n关于")},
};

const CommandText* Find(int id) {
  for (const CommandText& t : kCommandTexts) {
    if (t.id == id) return &t;
  }
  return nullptr;
}

}  // namespace

QString CommandMenuText(int id) {
  const CommandText* t = Find(id);
  return t ? QCoreApplication::translate("Commands", t->menu) : QString();
}

QString CommandPrompt(int id) {
  const CommandText* t = Find(id);
  return t ? QCoreApplication::translate("Commands", t->prompt) : QString();
}

}  // namespace inkbrite
