// The statement texts the program sends, and broken ones.
#include <gtest/gtest.h>

#include "mdb/sql_parser.h"

namespace mdb {
namespace {

Statement Parse(const std::u16string& sql) {
  Statement st;
  Status s = ParseStatement(sql, &st);
  EXPECT_TRUE(s.ok()) << s.ToString();
  return st;
}

Status ParseError(const std::u16string& sql) {
  Statement st;
  return ParseStatement(sql, &st);
}

TEST(SqlParser, ProgramSelects) {
  Statement st = Parse(u"select * from [用户信息表]");
  EXPECT_EQ(st.kind, Statement::Kind::kSelect);
  EXPECT_EQ(st.table, u"用户信息表");
  ASSERT_EQ(st.items.size(), 1u);
  EXPECT_TRUE(st.items[0].star);
  EXPECT_EQ(st.where, nullptr);

  st = Parse(u"select * from [用户信息表] where [姓名]=''");
  ASSERT_NE(st.where, nullptr);
  EXPECT_EQ(st.where->kind, ExprKind::kBinary);
  EXPECT_EQ(st.where->args[0]->name, u"姓名");
  EXPECT_EQ(std::get<std::u16string>(st.where->args[1]->value), u"");

  st = Parse(u"select * from [用户信息表] where [姓名] like '%%%'");
  EXPECT_EQ(st.where->kind, ExprKind::kLike);
  EXPECT_EQ(std::get<std::u16string>(st.where->args[1]->value), u"%%%");

  st = Parse(u"select * from [用户信息表] where [ID]=12");
  EXPECT_EQ(std::get<int64_t>(st.where->args[1]->value), 12);

  st = Parse(u"select * from [用户信息表] where [出生日期] between #1980-1-1 0:0:0# and #1989-12-31 0:0:0# order by [姓名] asc");
  EXPECT_EQ(st.where->kind, ExprKind::kBetween);
  EXPECT_TRUE(st.where->args[1]->date_literal);
  EXPECT_EQ(std::get<Date>(st.where->args[1]->value).oa, 29221.0);  // 1980-01-01
  ASSERT_EQ(st.order.size(), 1u);
  EXPECT_FALSE(st.order[0].descending);

  st = Parse(u"select * from [用户表] where [用户名]='张三'");
  EXPECT_EQ(std::get<std::u16string>(st.where->args[1]->value), u"张三");
}

TEST(SqlParser, ProgramChanges) {
  Statement st = Parse(
      u"insert into [用户信息表] ([姓名],[性别],[个人简介],[出生日期],[添加者],[照片]) values "
      u"('李四',true,'简介','1990-05-07','张三',?)");
  EXPECT_EQ(st.kind, Statement::Kind::kInsert);
  EXPECT_EQ(st.columns.size(), 6u);
  EXPECT_EQ(st.values.size(), 6u);
  EXPECT_EQ(st.param_count, 1);
  EXPECT_EQ(st.values[5]->kind, ExprKind::kParam);
  EXPECT_EQ(std::get<bool>(st.values[1]->value), true);

  st = Parse(u"update  [用户信息表] set [姓名]='a',[性别]=false,[个人简介]='',[出生日期]='2001-12-23 14:05:09',[添加者]='张三',[照片]=? where [ID]=7");
  EXPECT_EQ(st.kind, Statement::Kind::kUpdate);
  EXPECT_EQ(st.columns.size(), 6u);
  EXPECT_EQ(st.columns[5], u"照片");

  st = Parse(u"delete from [用户信息表]  where  [ID]=7");
  EXPECT_EQ(st.kind, Statement::Kind::kDelete);
  st = Parse(u"delete from [用户表]  where  [ID]=-1");
  EXPECT_EQ(st.where->args[1]->kind, ExprKind::kUnary);

  st = Parse(u"insert into [操作日志] ([用户ID],[操作时间],[事件说明]) values (3,now(),'添加人员')");
  EXPECT_EQ(st.values[1]->kind, ExprKind::kCall);
}

TEST(SqlParser, DoubledApostropheIsOne) {
  Statement st = Parse(u"select * from t where [n]='O''Brien'");
  EXPECT_EQ(std::get<std::u16string>(st.where->args[1]->value), u"O'Brien");
}

TEST(SqlParser, OperatorsAndPrecedence) {
  Statement st = Parse(u"SELECT a, b AS c FROM t WHERE NOT a = 1 OR b IN (1, 2) AND c IS NOT NULL ORDER BY a DESC, [b]");
  // OR binds loosest.
  EXPECT_EQ(st.where->ops, std::vector<Op>{Op::kOr});
  EXPECT_EQ(st.where->args[0]->op, Op::kNot);
  EXPECT_EQ(st.where->args[1]->ops, std::vector<Op>{Op::kAnd});
  EXPECT_EQ(st.where->args[1]->args[1]->kind, ExprKind::kIsNull);
  EXPECT_TRUE(st.where->args[1]->args[1]->negate);
  EXPECT_EQ(st.items[1].alias, u"c");
  EXPECT_TRUE(st.order[0].descending);

  st = Parse(u"select * from t where a + 2 * 3 = 7 and b & 'x' not like 'y%'");
  const Expr* sum = st.where->args[0]->args[0].get();
  EXPECT_EQ(sum->ops, std::vector<Op>{Op::kAdd});
  EXPECT_EQ(sum->args[1]->ops, std::vector<Op>{Op::kMul});
  EXPECT_EQ(st.where->args[1]->kind, ExprKind::kLike);
  EXPECT_TRUE(st.where->args[1]->negate);

  // Operators of one precedence are one chain, left to right: a - b + c - d.
  st = Parse(u"select * from t where a - b + c - d = (e or f or g)");
  const Expr* chain = st.where->args[0].get();
  EXPECT_EQ(chain->ops, (std::vector<Op>{Op::kSub, Op::kAdd, Op::kSub}));
  EXPECT_EQ(chain->args.size(), 4u);
  EXPECT_EQ(chain->args[3]->name, u"d");
  EXPECT_EQ(st.where->args[1]->ops, (std::vector<Op>{Op::kOr, Op::kOr}));
  EXPECT_EQ(st.where->height, 3);
}

TEST(SqlParser, BrokenStatementsFailWithAMessage) {
  for (const char16_t* bad : {
           u"",
           u"select",
           u"select * from",
           u"select * from [用户信息表] where [姓名]='O'Brien'",
           u"select * from [用户信息表] where [姓名] like '%O'Brien%'",
           u"insert into [用户信息表] ([姓名],[性别]) values ('a''b',true,'c')",
           u"insert into t (a) values ('x'",
           u"select * from [t where a=1",
           u"select * from t where d = #1990-13-01#",
           u"select * from t where d = #not a date#",
           u"delete [t] where a=1",
           u"update t set where a=1",
           u"select * from t where a = ? and b = ?",
           u"select * from t extra",
           u"drop table t",
           u"select * from t where a = 1 ~ 2",
       }) {
    Status s = ParseError(bad);
    EXPECT_FALSE(s.ok()) << "a broken statement was accepted (" << std::char_traits<char16_t>::length(bad) << " characters)";
    EXPECT_EQ(s.code(), Status::Code::kInvalidArgument);
    EXPECT_FALSE(s.message().empty());
  }
}

TEST(SqlParser, DeepNestingIsRefusedNotACrash) {
  std::u16string sql = u"select * from t where ";
  for (int i = 0; i < 100000; ++i) sql += u"(";
  EXPECT_FALSE(ParseError(sql).ok());
  sql = u"select * from t where ";
  for (int i = 0; i < 100000; ++i) sql += u"not -";
  EXPECT_FALSE(ParseError(sql).ok());
}

}  // namespace
}  // namespace mdb
