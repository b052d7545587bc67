@echo Kelvane Example 1.0.0
@pause
