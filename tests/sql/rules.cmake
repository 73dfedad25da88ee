# The export comparison runs the companion program.
add_dependencies(sql_tests usermgr-db)
