# vesk_test(files_tests ...) lists this area's tests.
