# Warnings are errors in both builds. The product code gets the strict set;
# test and tool code the common one.
set(NOWGLOW_COMMON_WARNINGS -Wall -Wextra -Wpedantic -Wshadow -Werror)
set(NOWGLOW_STRICT_WARNINGS ${NOWGLOW_COMMON_WARNINGS} -Wconversion -Wsign-conversion
    -Wcast-qual -Wold-style-cast -Wundef -Wnull-dereference -Wformat=2)
