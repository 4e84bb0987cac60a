-- Wrong-password sign-in posts for ever new accounts, as a guessing script
-- sends them.
wrk.method = "POST"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
local n = 0
request = function()
  n = n + 1
  return wrk.format(nil, nil, nil,
    "LoginName=guess" .. n .. "&LoginPwd=wrong" .. n .. "&Screen=1920*1080")
end
