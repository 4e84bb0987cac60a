// The demo office: four departments, ten people, five roles, a dozen
// functions and a two-level menu tree with rights. Written in SQL that
// every supported database reads alike.
#include "schema/schema_internal.h"

namespace wrenhaven {

const std::vector<std::string_view>& DemoData() {
  static const std::vector<std::string_view> kStatements = {
      "INSERT INTO HR_Dept (DeptID, DeptName) VALUES "
      "(1,'Management'),(2,'Finance'),(3,'Engineering'),(4,'Sales')",

      // Hal has no role at all: he may sign in but sees no menu.
      "INSERT INTO HR_person (PersonID, personAccount, personPwd, PersonName, "
      "DeptID, PersonJobCode) VALUES "
      "(1,'ann','ann123','Ann Carter',1,'GM'),"
      "(2,'ben','ben123','Ben Ortiz',2,'ACC'),"
      "(3,'cho','cho123','Cho Nakamura',3,'ENG'),"
      "(4,'dev','dev123','Dev Patel',3,'LEAD'),"
      "(5,'eva','eva123','Eva Lindqvist',4,'REP'),"
      "(6,'finn','finn123','Finn Walsh',4,'REP'),"
      "(7,'gia','gia123','Gia Romano',2,'CFO'),"
      "(8,'hal','hal123','Hal Becker',3,'ENG'),"
      "(9,'ivy','ivy123','Ivy Chen',1,'ADM'),"
      "(10,'jon','jon123','Jon Mbeki',4,'REP')",

      "INSERT INTO SYS_Role (RoleID, RoleName, RoleParentID, RoleLevel, "
      "RoleClass, RoleMemo) VALUES "
      "(1,'Administrator',NULL,'1','System','Maintains menus, functions, roles "
      "and rights'),"
      "(2,'Manager',NULL,'1','Staff','Heads of department'),"
      "(3,'Clerk',2,'2','Staff','Office and accounts staff'),"
      "(4,'Engineer',2,'2','Staff','Engineering staff'),"
      "(5,'Sales',2,'2','Staff','Sales representatives')",

      "INSERT INTO SYS_PersonRole (PersonID, RoleID) VALUES "
      "(1,1),(1,2),(2,3),(3,4),(4,2),(4,4),(5,5),(6,3),(6,5),(7,2),(7,3),"
      "(9,1),(10,5)",

      "INSERT INTO SYS_Function (FunID, FunName, FunMemo, FunType, FunOrder, "
      "FunClass, FunUrl) VALUES "
      "(1,'Mail','Internal mail',1,1,'Office','/apps/mail'),"
      "(2,'Calendar','Shared calendar',1,2,'Office','/apps/calendar'),"
      "(3,'Documents','Document library',1,3,'Office','/apps/documents'),"
      "(4,'Notices','Office notices',1,4,'Office','/apps/notices'),"
      "(5,'Expenses','Expense claims',2,1,'Finance','/apps/expenses'),"
      "(6,'Budgets','Department budgets',2,2,'Finance','/apps/budgets'),"
      "(7,'Projects','Project list',3,1,'Engineering','/apps/projects'),"
      "(8,'Timesheets','Hours per "
      "project',3,2,'Engineering','/apps/timesheets'),"
      "(9,'Customers','Customer records',4,1,'Sales','/apps/customers'),"
      "(10,'Orders','Order book',4,2,'Sales','/apps/orders'),"
      "(11,'Menus','Menu maintenance',9,1,'System','/admin/menus'),"
      "(12,'Functions','Function catalogue',9,2,'System','/admin/functions'),"
      "(13,'Roles','Role catalogue',9,3,'System','/admin/roles'),"
      "(14,'Login records','Sign-in summary and "
      "history',9,4,'System','/admin/logins'),"
      "(15,'Attendance','First sign-in per "
      "day',9,5,'System','/admin/attendance'),"
      "(16,'Rights','Menus per role, roles per "
      "person',9,6,'System','/admin/rights'),"
      "(17,'Sessions','Who is signed in now',9,7,'System','/admin/sessions'),"
      "(18,'Audit trail','Changes made by administrators',9,8,'System',"
      "'/admin/audit')",

      "INSERT INTO SYS_Menu (MenuID, FunID, MenuParentID, MenuName, MenuTip, "
      "MenuEnglish, MenuEnglishTip, MenuIcon, MenuOrder) VALUES "
      "(1,NULL,NULL,'办公','日常办公','Office','Everyday office "
      "work','office.gif',1),"
      "(2,1,1,'邮件','内部邮件','Mail','Internal mail','mail.gif',1),"
      "(3,2,1,'日程','共享日程','Calendar','Shared calendar','calendar.gif',2),"
      "(4,3,1,'文档','文档库','Documents','Document "
      "library','documents.gif',3),"
      "(5,4,1,'公告','办公公告','Notices','Office notices','notices.gif',4),"
      "(6,NULL,NULL,'财务','财务管理','Finance','Money "
      "matters','finance.gif',2),"
      "(7,5,6,'报销','报销申请','Expenses','Expense claims','expenses.gif',1),"
      "(8,6,6,'预算','部门预算','Budgets','Department "
      "budgets','budgets.gif',2),"
      "(9,NULL,NULL,'项目','项目管理','Projects','Project "
      "work','projects.gif',3),"
      "(10,7,9,'项目列表','项目列表','Project list','All "
      "projects','list.gif',1),"
      "(11,8,9,'工时','工时填报','Timesheets','Hours per "
      "project','timesheets.gif',2),"
      "(12,NULL,NULL,'销售','销售管理','Sales','Customers and "
      "orders','sales.gif',4),"
      "(13,9,12,'客户','客户资料','Customers','Customer "
      "records','customers.gif',1),"
      "(14,10,12,'订单','订单簿','Orders','Order book','orders.gif',2),"
      "(15,NULL,NULL,'系统管理','系统维护','Administration','System "
      "upkeep','admin.gif',9),"
      "(16,11,15,'菜单','菜单维护','Menus','Menu maintenance','menus.gif',1),"
      "(17,12,15,'功能','功能目录','Functions','Function "
      "catalogue','functions.gif',2),"
      "(18,13,15,'角色','角色目录','Roles','Role catalogue','roles.gif',3),"
      "(19,16,15,'权限','角色与权限','Rights','Menus per role, roles per "
      "person','rights.gif',4),"
      "(20,14,15,'登录记录','登录记录','Login records','Sign-in summary and "
      "history','logins.gif',5),"
      "(21,15,15,'考勤','月度考勤','Attendance','First sign-in per "
      "day','attendance.gif',6),"
      "(22,17,15,'在线会话','当前登录','Sessions','Who is signed in "
      "now','sessions.gif',7),"
      "(23,18,15,'审计','管理变更记录','Audit trail','Changes made by "
      "administrators','audit.gif',8)",

      // Everyone with a role sees Office; each role its own area; the
      // administrators everything.
      "INSERT INTO SYS_right (menuID, roleID) VALUES "
      "(1,1),(2,1),(3,1),(4,1),(5,1),(6,1),(7,1),(8,1),(9,1),(10,1),(11,1),"
      "(12,1),(13,1),(14,1),(15,1),(16,1),(17,1),(18,1),(19,1),(20,1),(21,1),"
      "(22,1),(23,1),"
      "(1,2),(2,2),(3,2),(4,2),(5,2),(6,2),(7,2),(8,2),(9,2),(10,2),(11,2),"
      "(1,3),(2,3),(3,3),(5,3),(6,3),(7,3),"
      "(1,4),(2,4),(3,4),(4,4),(9,4),(10,4),(11,4),"
      "(1,5),(2,5),(3,5),(5,5),(12,5),(13,5),(14,5)",
  };
  return kStatements;
}

const std::vector<DemoAccount>& DemoAccounts() {
  static const std::vector<DemoAccount> kAccounts = {
      {"ann", "ann123"}, {"ben", "ben123"}, {"cho", "cho123"},
      {"dev", "dev123"}, {"eva", "eva123"}, {"finn", "finn123"},
      {"gia", "gia123"}, {"hal", "hal123"}, {"ivy", "ivy123"},
      {"jon", "jon123"},
  };
  return kAccounts;
}

}  // namespace wrenhaven
