// mibs/KW-DISPLAY-MIB.txt, read with Net-SNMP's own MIB parser, against the agent's object
// table: every object where the agent serves it, as a DisplayString. (scripts/gen-mib-reference.py
// --check compares access, sizes and descriptions.)
// Net-SNMP wants its configuration header first.
#include <net-snmp/net-snmp-config.h>

#include <net-snmp/net-snmp-includes.h>

#include <gtest/gtest.h>

#include <string>

#include "snmp/ObjectTable.h"

namespace {

using kw::snmp::DisplayObject;
using kw::snmp::Oid;

class MibTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const std::string dirs = std::string(KW_SOURCE_DIR) +
                                 "/node_modules/net-snmp/lib/mibs:" + KW_SOURCE_DIR + "/mibs";
        netsnmp_ds_set_boolean(NETSNMP_DS_LIBRARY_ID, NETSNMP_DS_LIB_SAVE_MIB_DESCRS, 1);
        netsnmp_set_mib_directory(dirs.c_str());
        netsnmp_init_mib();
        s_module = read_module("KW-DISPLAY-MIB");
    }
    static void TearDownTestSuite() { shutdown_mib(); }

    static tree* node(const std::string& name, Oid* out)
    {
        oid buf[MAX_OID_LEN];
        size_t len = MAX_OID_LEN;
        if (!read_objid(("KW-DISPLAY-MIB::" + name).c_str(), buf, &len)) {
            return nullptr;
        }
        out->assign(buf, buf + len);
        return get_tree(buf, len, get_tree_head());
    }

    static tree* s_module;
};
tree* MibTest::s_module = nullptr;

TEST_F(MibTest, EveryObjectSitsWhereTheAgentServesIt)
{
    ASSERT_NE(s_module, nullptr);
    Oid oid;
    ASSERT_NE(node("kwDisplay", &oid), nullptr);
    EXPECT_EQ(oid, kw::snmp::rootOid());
    ASSERT_NE(node("kwdControl", &oid), nullptr);
    EXPECT_EQ(oid, kw::snmp::controlOid());
    for (const DisplayObject& object : kw::snmp::displayObjects()) {
        SCOPED_TRACE(object.name);
        tree* t = node(object.name, &oid);
        ASSERT_NE(t, nullptr);
        Oid expected = kw::snmp::scalarInstance(object);
        expected.pop_back();  // the object, not its .0 instance
        EXPECT_EQ(oid, expected);
        EXPECT_EQ(t->type, TYPE_OCTETSTR);
        ASSERT_NE(t->tc_index, -1);
        EXPECT_STREQ(get_tc_descriptor(t->tc_index), "DisplayString");
    }

    // The holiday table's one readable column, 14 characters wide.
    tree* value = node("kwdHolidayValue", &oid);
    ASSERT_NE(value, nullptr);
    Oid expected = kw::snmp::holidayValueInstance(1);
    expected.pop_back();
    EXPECT_EQ(oid, expected);
    EXPECT_EQ(value->access, MIB_ACCESS_READONLY);
    ASSERT_NE(value->ranges, nullptr);
    EXPECT_EQ(std::make_pair(value->ranges->low, value->ranges->high), std::make_pair(14, 14));
}

}  // namespace
