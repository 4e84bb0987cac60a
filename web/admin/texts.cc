#include "web/admin/texts.h"

#include "web/texts.h"
#include "wrenhaven/error.h"

namespace wrenhaven::web {
namespace {

constexpr PageText kTexts[] = {
    // The gate.
    {"denied", "无权访问", "Not allowed"},
    {"not_signed_in", "请先登录。", "Please sign in first."},
    {"not_granted", "您的角色无权使用此管理页面。",
     "Your roles do not allow this administration page."},
    {"needs_rights_page",
     "只有能使用权限页面的人才能修改通往管理页面的功能和菜单。没有进行任何修改"
     "。",
     "Only a person who may use the rights page can change the functions and "
     "menus that lead to administration pages. Nothing was changed."},
    {"bad_token",
     "此表单不是从本系统的页面提交的，或者您的会话已更改。没有进行任何修改。",
     "This form was not sent from this office's own page, or your session "
     "has changed. Nothing was changed."},
    {"not_found", "未找到", "Not found"},
    {"no_page", "此地址没有管理页面。",
     "There is no administration page at this address."},
    {"sign_in_page", "登录页面", "Sign-in page"},

    // Shared words.
    {"add", "添加", "Add"},
    {"save", "保存", "Save"},
    {"cancel", "取消", "Cancel"},
    {"edit", "修改", "Edit"},
    {"delete", "删除", "Delete"},
    {"actions", "操作", "Actions"},
    {"id", "编号", "ID"},
    {"page", "页", "Page"},
    {"page_size", "每页行数", "Rows per page"},
    {"show", "显示", "Show"},
    {"prev", "上一页", "Previous"},
    {"next", "下一页", "Next"},
    {"total", "共计", "In all"},
    {"empty_list", "目录中没有条目。", "The catalogue is empty."},
    {"done_added", "已添加。", "Added."},
    {"done_saved", "已保存。", "Saved."},
    {"done_deleted", "已删除。", "Deleted."},
    {"bad_choice", "所选内容无效。", "The choice is not valid."},

    // Menus.
    {"menus", "菜单维护", "Menus"},
    {"add_first", "添加一级菜单", "Add a first-level menu"},
    {"add_child", "添加子菜单", "Add a sub-menu"},
    {"add_menu", "添加菜单", "Add a menu"},
    {"edit_menu", "修改菜单", "Edit the menu"},
    {"delete_menu", "删除菜单", "Delete the menu"},
    {"no_such_menu", "没有此菜单：", "There is no menu"},
    {"no_menus", "还没有菜单。", "There is no menu yet."},
    {"menu_name", "名称", "Name"},
    {"menu_tip", "提示", "Tip"},
    {"menu_english", "英文名称", "English name"},
    {"menu_english_tip", "英文提示", "English tip"},
    {"menu_icon", "图标", "Icon"},
    {"menu_order", "顺序", "Order"},
    {"menu_function", "功能", "Function"},
    {"menu_parent", "上级菜单", "Parent menu"},
    {"no_function", "（无功能）", "(no function)"},
    {"first_level", "（一级菜单）", "(first level)"},
    {"parent_loop", "菜单不能放在自己或自己的子菜单之下。",
     "A menu cannot be placed under itself or under one of its own "
     "sub-menus."},
    {"delete_menu_stays",
     "只删除这一个菜单。它的子菜单和授予角色的权限仍保留在数据库中，但子菜单将"
     "无法从一级菜单到达。",
     "Only this one menu is deleted. Its sub-menus and its grants to roles "
     "stay in the database, but the sub-menus are no longer reached from "
     "the first level."},
    {"sub_menus", "子菜单数", "Sub-menus"},

    // Functions.
    {"functions", "功能目录", "Functions"},
    {"add_function", "添加功能", "Add a function"},
    {"edit_function", "修改功能", "Edit the function"},
    {"delete_function", "删除功能", "Delete the function"},
    {"no_such_function", "没有此功能：", "There is no function"},
    {"delete_function_stays", "打开此功能的菜单仍然保留，但不再有地址。",
     "Menus that open this function stay, without an address."},
    {"fun_name", "名称", "Name"},
    {"fun_memo", "说明", "Memo"},
    {"fun_type", "类型", "Type"},
    {"fun_order", "顺序", "Order"},
    {"fun_class", "分类", "Class"},
    {"fun_url", "地址", "Address"},

    // Roles.
    {"roles", "角色目录", "Roles"},
    {"add_role", "添加角色", "Add a role"},
    {"edit_role", "修改角色", "Edit the role"},
    {"delete_role", "删除角色", "Delete the role"},
    {"no_such_role", "没有此角色：", "There is no role"},
    {"delete_role_stays",
     "人员的角色分配和菜单权限仍保留在数据库中；登录时不再授予已删除的角色。",
     "The people's assignments and the menu grants stay in the database; "
     "nobody receives a deleted role at sign-in."},
    {"role_name", "名称", "Name"},
    {"role_parent", "上级角色", "Parent role"},
    {"role_level", "级别", "Level"},
    {"role_class", "分类", "Class"},
    {"role_memo", "说明", "Memo"},
    {"no_parent", "（无上级）", "(none)"},
    {"open_branch", "展开", "Open"},
    {"close_branch", "收起", "Close"},
    {"no_such_branch", "没有此菜单。", "There is no such menu."},

    // Sessions.
    {"sessions", "在线会话", "Sessions"},
    {"session_account", "账号", "Account"},
    {"session_since", "登录时间", "Signed in"},
    {"session_seen", "最近使用", "Last used"},
    {"session_end", "结束", "End"},
    {"session_end_person", "结束此人的所有会话", "End all of this person's"},
    {"no_sessions", "没有符合条件的在线会话。",
     "Nobody is signed in that matches."},
    {"sessions_ended", "会话已结束。", "Ended."},
    {"sessions_none", "没有需要结束的会话。",
     "There was no such session to end."},
    {"bad_paging", "每页行数和页码必须是正整数。",
     "The page size and the page number must be whole numbers above 0."},
    {"bad_account", "账号最多 64 个字符。",
     "An account has at most 64 characters."},
    {"bad_session", "没有此会话。", "There is no such session."},
    {"no_such_account", "没有使用此账号的人员。", "Nobody has this account."},
    {"bad_person", "人员编号必须是正整数。",
     "A person is named by a whole number."},

    // Login records.
    {"logins", "登录记录", "Login records"},
    {"person", "人员", "Person"},
    {"last_sign_in", "最近登录", "Last sign-in"},
    {"last_sign_out", "最近退出", "Last sign-out"},
    {"sign_ins", "登录次数", "Sign-ins"},
    {"no_records", "没有登录记录。", "There are no login records."},
    {"history_of", "登录历史：", "Sign-ins of"},
    {"no_such_person", "没有此人员：", "There is no person"},
    {"no_such_record", "没有此登录记录：", "There is no login record"},
    {"login_record", "登录记录", "Login record"},
    {"details", "详情", "Details"},
    {"all_people", "全部人员", "All people"},
    {"login_id", "记录编号", "Record"},
    {"login_account", "输入的账号", "Account typed"},
    {"login_pwd", "密码", "Password"},
    {"login_result", "结果", "Result"},
    {"login_ip", "地址", "Address"},
    {"login_browser", "浏览器", "Browser"},
    {"login_screen", "屏幕", "Screen"},
    {"login_time", "登录时间", "Signed in"},
    {"login_out_time", "退出时间", "Signed out"},
    {"login_ok", "成功", "Succeeded"},
    {"login_failed", "失败", "Failed"},
    {"at_a_glance", "概览", "At a glance"},
    {"per_person", "每人的成功登录", "Successful sign-ins per person"},
    {"chart_days", "近 {days} 天每天的登录",
     "Sign-ins per day, last {days} days"},
    {"chart_hours", "今天每小时的登录", "Sign-ins per hour, today"},
    {"chart_day", "日期", "Day"},
    {"chart_hour", "时段", "Hour"},
    {"chart_ok", "成功登录", "Sign-ins"},
    {"chart_failed", "失败尝试", "Failed attempts"},
    {"chart_bar", "{label}：成功登录 {ok} 次，失败尝试 {failed} 次",
     "{label}: {ok} sign-ins, {failed} failed attempts"},
    {"chart_days_summary",
     "近 {days} 天共有 {ok} 次成功登录和 {failed} 次失败尝试。",
     "{ok} sign-ins and {failed} failed attempts in the last {days} days."},
    {"chart_hours_summary", "今天共有 {ok} 次成功登录和 {failed} 次失败尝试。",
     "{ok} sign-ins and {failed} failed attempts today."},

    // Attendance.
    {"attendance", "考勤", "Attendance"},
    {"month", "月份", "Month"},
    {"start_time", "上班时间", "Start of the day"},
    {"prev_month", "上个月", "Previous month"},
    {"next_month", "下个月", "Next month"},
    {"download_csv", "下载 CSV", "Download CSV"},
    {"department", "部门", "Department"},
    {"late", "迟到", "Late"},
    {"late_days", "迟到天数", "Late days"},
    {"late_legend", "红色的时间晚于上班时间；灰色的列是周末。",
     "Times in red are after the start of the day; grey columns are "
     "weekends."},
    {"late_count", "迟到次数", "Late arrivals"},
    {"sign_ins_that_day", "当天登录次数", "sign-ins that day"},
    {"nobody", "本月没有人在 6:00 之后登录。",
     "Nobody signed in after 6:00 this month."},
    {"bad_month", "月份应写作 YYYY-MM。", "The month is written YYYY-MM."},
    {"bad_start", "时间应写作 HH:MM。", "The time of day is written HH:MM."},
    {"wd_sun", "日", "Su"},
    {"wd_mon", "一", "Mo"},
    {"wd_tue", "二", "Tu"},
    {"wd_wed", "三", "We"},
    {"wd_thu", "四", "Th"},
    {"wd_fri", "五", "Fr"},
    {"wd_sat", "六", "Sa"},

    // The audit trail.
    {"audit", "审计记录", "Audit trail"},
    {"everybody", "所有人", "Everybody"},
    {"audit_kind", "变更类型", "Kind of change"},
    {"audit_from", "从", "From"},
    {"audit_to", "到", "To"},
    {"audit_time", "时间", "Time"},
    {"audit_target", "对象编号", "Identifier"},
    {"audit_before", "变更前", "Before"},
    {"audit_after", "变更后", "After"},
    {"no_changes", "没有符合条件的变更记录。",
     "No change matches these filters."},

    // Rights.
    {"rights", "权限", "Rights"},
    {"menus_of", "角色的菜单：", "Menus of the role"},
    {"roles_of", "人员的角色：", "Roles of"},
    {"people", "人员", "People"},
    {"account", "账号", "Account"},
    {"grants_note", "勾选的菜单在此角色的人员打开下一个页面时生效。",
     "The ticked menus show at the next page of this role's people."},
    {"roles_note", "新的角色在此人下次登录时生效。",
     "New roles take effect when the person next signs in."},
    {"deleted_role", "已删除的角色", "Deleted role"},
    {"choose_role", "选择一个角色以授予菜单：",
     "Choose a role to grant menus to:"},
    {"choose_person", "选择一个人员以分配角色：",
     "Choose a person to give roles to:"},
    {"find_people", "姓名或账号", "Name or account"},
    {"no_people", "没有符合条件的人员。", "Nobody matches."},
    {"bad_search", "搜索内容最多 64 个字符。",
     "A search has at most 64 characters."},
    {"branches", "分支", "Branches"},
};

}  // namespace

const TemplateData& AdminTexts(bool english) {
  static const TemplateData kChinese = TextTable(kTexts, false);
  static const TemplateData kEnglish = TextTable(kTexts, true);
  return english ? kEnglish : kChinese;
}

std::string AdminText(bool english, const char* key) {
  const TemplateData* value = AdminTexts(english).get(key);
  if (value == nullptr || !value->is_string()) {
    Raise(ErrorCode::kHost,
          "The administration pages have no text \"" + std::string(key) + "\"");
  }
  return value->string_value();
}

}  // namespace wrenhaven::web
