#include "web/texts.h"

#include <initializer_list>
#include <utility>

namespace wrenhaven::web {
namespace {

constexpr PageText kTexts[] = {
    {"app_name", "Wrenhaven 办公系统", "Wrenhaven Office"},
    {"app_short", "Wrenhaven", "Wrenhaven"},
    {"sign_in_title", "登录", "Sign in"},
    {"account", "账号", "Account"},
    {"password", "密码", "Password"},
    {"oldwin", "在当前窗口打开办公系统", "Open the office in this window"},
    {"sign_in", "登录", "Sign in"},
    {"failed", "登录失败：账号或密码不正确。",
     "Sign-in failed: the account name or the password is wrong."},
    {"held_back", "登录失败的次数太多。请稍后再试（约 {{minutes}} 分钟）。",
     "Too many failed sign-ins. Try again in about {{minutes}} minutes."},
    {"foreign", "登录请求来自其他网站，已被拒绝。",
     "The sign-in came from another site and was refused."},
    {"opened", "办公系统已在新窗口中打开。",
     "Your office has opened in a window of its own."},
    {"open_here", "没有打开？在这里进入办公系统", "Not there? Open it here"},
    {"foot", "请使用您的办公账号登录。", "Sign in with your office account."},
    {"office_title", "办公", "Office"},
    {"top_menu", "主菜单", "Main menu"},
    {"left_menu", "功能菜单", "Functions"},
    {"content", "内容", "Content"},
    {"sign_out", "退出", "Sign out"},
    {"no_menu", "您的角色没有可用的菜单。", "Your roles give you no menu."},
    {"no_entries", "此菜单下没有功能。", "There is nothing under this menu."},
    {"welcome", "欢迎", "Welcome"},
    {"choose", "请从左侧菜单中选择一项功能。",
     "Choose a function from the menu on the left."},
    {"not_ready", "此功能尚未开放。", "This application is not available yet."},
    {"app_denied", "您的角色无权使用此功能。",
     "Your roles do not give you this application."},
    {"recent", "最近的登录", "Your recent sign-ins"},
    {"when", "时间", "When"},
    {"client_address", "地址", "Address"},
    {"browser", "浏览器", "Browser"},
    {"screen", "屏幕", "Screen"},
    {"elsewhere", "在其他地方登录", "Signed in elsewhere"},
    {"elsewhere_since", "登录于", "since"},
    {"elsewhere_seen", "最近使用", "last used"},
    {"end_session", "结束此会话", "End this session"},
    {"end_all_elsewhere", "结束所有其他会话", "End all other sessions"},
    {"admin_not_ready", "此管理页面尚未开放。",
     "This administration page is not available yet."},
};

}  // namespace

TemplateData TextTable(std::span<const PageText> texts, bool english) {
  TemplateData data;
  for (const PageText& t : texts) {
    data.set(t.key, english ? t.english : t.chinese);
  }
  return data;
}

const TemplateData& Texts(bool english) {
  static const TemplateData kChinese = TextTable(kTexts, false);
  static const TemplateData kEnglish = TextTable(kTexts, true);
  return english ? kEnglish : kChinese;
}

const TemplateData& TextsBase(bool english) {
  static const TemplateData kChinese("t", Texts(false));
  static const TemplateData kEnglish("t", Texts(true));
  return english ? kEnglish : kChinese;
}

}  // namespace wrenhaven::web
