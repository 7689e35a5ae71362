# The COM server DLL.
