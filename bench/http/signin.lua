-- A successful sign-in form post, as the sign-in page sends it.
wrk.method = "POST"
wrk.body = "LoginName=ann&LoginPwd=ann123&Screen=1920*1080&oldwin=true"
wrk.headers["Content-Type"] = "application/x-www-form-urlencoded"
