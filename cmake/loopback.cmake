# Fixed values of a test build: every address points at servers that the tests
# start themselves on 127.0.0.1.
set(TELVORO_YOUKU_PLAYER_HOST "127.0.0.1:47801" CACHE STRING "")
set(TELVORO_TUDOU_WEB_HOST "127.0.0.1:47802" CACHE STRING "")
set(TELVORO_NOTICE_PAGE "http://127.0.0.1:47803/notice.html" CACHE STRING "")
set(TELVORO_CONTACT_NUMBER "10001" CACHE STRING "")
