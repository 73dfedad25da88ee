# The demo test runs the companion tool.
add_dependencies(workflow_tests usermgr-db)
