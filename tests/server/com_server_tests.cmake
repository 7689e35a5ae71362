# COM server tests (Wine).
