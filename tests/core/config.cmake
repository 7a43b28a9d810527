# vesk_test(config_tests ...) lists this area's tests.
