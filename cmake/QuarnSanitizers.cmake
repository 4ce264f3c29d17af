# Sanitizer builds for the test command (tools/test.sh --sanitize / --tsan).
#
# QUARN_SANITIZE selects one:
#   address  AddressSanitizer + UndefinedBehaviorSanitizer; no recovery, so
#            the first finding ends the program and fails its test
#   thread   ThreadSanitizer
# Empty (the default) builds without any. The flags apply to every target of
# the project, so the libraries the tests link are instrumented too.

set(QUARN_SANITIZE "" CACHE STRING "Sanitizer build: empty, address or thread")
set_property(CACHE QUARN_SANITIZE PROPERTY STRINGS "" address thread)

if(QUARN_SANITIZE STREQUAL "address")
  set(quarn_sanitize_flags -fsanitize=address,undefined -fno-sanitize-recover=all)
elseif(QUARN_SANITIZE STREQUAL "thread")
  set(quarn_sanitize_flags -fsanitize=thread)
elseif(NOT QUARN_SANITIZE STREQUAL "")
  message(FATAL_ERROR "QUARN_SANITIZE must be empty, address or thread, not '${QUARN_SANITIZE}'")
endif()

if(quarn_sanitize_flags)
  # Frame pointers give the reports whole stacks at little cost.
  add_compile_options(${quarn_sanitize_flags} -fno-omit-frame-pointer)
  add_link_options(${quarn_sanitize_flags})
endif()

# The test programs whose code runs on several threads: the walk, both
# scans, the search, the stores and their models, and the windows and
# dialogs that drive workers. They carry the ctest label "concurrency",
# which the ThreadSanitizer run selects.
set(QUARN_CONCURRENCY_TESTS
    platform_tests settings_tests foldersize_tests duplicates_tests filter_tests cli_tests
    history_tests app_ui_compare_window_test
    foldersize_ui_folder_tree_model_test foldersize_ui_folder_tree_view_test
    foldersize_ui_treemap_renderer_test
    duplicates_ui_MimeIconProvider_test duplicates_ui_TwinListModel_test
    duplicates_ui_TwinListView_test
    filter_ui_FileFilterDlg_test controls_ui_file_operation_dialog_test
    app_ui_main_frame_test app_ui_user_message_box_test)

# Gives test `name` the label "concurrency" when it is one of the above.
function(quarn_label_test name)
  if(name IN_LIST QUARN_CONCURRENCY_TESTS)
    set_tests_properties(${name} PROPERTIES LABELS concurrency)
  endif()
endfunction()
