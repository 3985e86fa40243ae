// SPDX-License-Identifier: GPL-2.0-or-later
#include "browse/commands.h"

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
    {kCmdOpen, "打开(&O)...\tCtrl+O", "打开一个或多个图像文件\n打开"},
    {kCmdClose, "关闭(&C)", "关闭当前图像窗口\n关闭"},
    {kCmdSave, "保存(&S)\tCtrl+S", "把处理后的图像存入原文件\n保存"},
    {kCmdSaveAs, "另存为(&A)...", "把处理后的图像存为新文件\n另存为"},
    {kCmdAskBeforeOverwrite, "保存前确认替换原文件", "保存到原文件之前先询问\n保存前确认"},
    {kCmdBatch, "批量转换(&A)", "批量转换目录中的图像文件\n批量转换"},
    {kCmdRecentFile, "最近文件", "打开这个文件"},
    {kCmdExit, "退出(&X)", "退出程序\n退出"},
    {kCmdToolbar, "工具栏(&T)", "显示或隐藏工具栏\n工具栏"},
    {kCmdStatusBar, "状态栏(&S)", "显示或隐藏状态栏\n状态栏"},
    {kCmdParaBar, "参数栏(&P)\tCtrl+A/P", "显示或隐藏参数栏\n参数栏"},
    {kCmdDisplayOrder, "文件显示顺序(&O)...", "设置目录中文件的显示顺序\n文件显示顺序"},
    {kCmdFullScreen, "全屏浏览\tCtrl+F", "全屏显示当前图像\n全屏浏览"},
    {kCmdFitWindow, "自动缩小到窗口大小\tCtrl+-", "把大于窗口的图像缩小到窗口大小\n缩小到窗口大小"},
    {kCmdAutoPlay, "自动播放\tCtrl+L", "按幻灯片方式逐一播放图像\n自动播放"},
    {kCmdAutoPlaySettings, "自动播放设置(&A)...", "设置自动播放参数\n自动播放设置"},
    {kCmdFirstPage, "当前目录首页\tCtrl+Home", "翻到当前目录的第一页\n首页"},
    {kCmdLastPage, "当前目录尾页\tCtrl+End", "翻到当前目录的最后一页\n尾页"},
    {kCmdPreviousPage, "上一页\t-", "翻到上一页\n上一页"},
    {kCmdNextPage, "下一页\t+", "翻到下一页\n下一页"},
    {kCmdRefresh, "刷新目录\tF5", "刷新目录缓存\n刷新目录"},
    {kCmdTopLeft, "当前页左上角\tHome", "显示当前页的左上角\n左上角"},
    {kCmdBottomLeft, "当前页左下角\tEnd", "显示当前页的左下角\n左下角"},
    {kCmdTopRight, "当前页右上角\tPgUp", "显示当前页的右上角\n右上角"},
    {kCmdBottomRight, "当前页右下角\tPgDn", "显示当前页的右下角\n右下角"},
    {kCmdSingleKey, "单键向后浏览\tSpace", "依次显示当前页的各角，然后翻到下一页\n单键浏览"},
    {kCmdNewWindow, "新建窗口(&N)", "为当前图像再开一个窗口\n新建窗口"},
    {kCmdCascade, "层叠(&C)", "层叠排列窗口\n层叠"},
    {kCmdTileHorizontal, "平铺(&T)", "上下平铺窗口\n平铺"},
    {kCmdTileVertical, "纵铺(&V)", "左右平铺窗口\n纵铺"},
    {kCmdNextWindow, "下一个窗口(&N)\tTab", "激活下一个窗口\n下一个窗口"},
    {kCmdCloseAll, "关闭所有窗口(&L)", "关闭所有图像窗口\n关闭所有窗口"},
    {kCmdHelp, "使用说明(&H)", "显示使用说明\n使用说明"},
    {kCmdAbout, "关于 Inkbrite(&A)...", "显示程序信息和版本\n关于"},
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
  return t ? QString::fromUtf8(t->menu) : QString();
}

QString CommandPrompt(int id) {
  const CommandText* t = Find(id);
  return t ? QString::fromUtf8(t->prompt) : QString();
}

}  // namespace inkbrite
